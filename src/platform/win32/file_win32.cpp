#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/win32/final_path.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace {

using win32::FinalPath;
using win32::LastComponent;
using win32::SameIgnoringCase;

HANDLE HandleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

void CloseKeepingError(std::intptr_t* handle) {
  if (HandleOf(*handle) == INVALID_HANDLE_VALUE) return;
  const PreserveLastError keep;
  ::CloseHandle(HandleOf(*handle));
  *handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

bool IsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

// A name that reaches past this machine's disks: two leading separators in
// any mix (UNC, WebDAV, \\?\UNC\, \\.\ devices) or the NT prefix \??\.
// Opening one would connect to the host and offer the user's credentials.
// The long form of a drive path, \\?\C:\..., stays local and is allowed.
bool NamesNetworkOrDevice(std::u16string_view name) {
  if (name.substr(0, 4) == u"\\??\\") return true;
  if (name.size() < 2 || !IsSeparator(name[0]) || !IsSeparator(name[1])) {
    return false;
  }
  const bool long_drive_path = name.size() >= 7 &&
                               name.substr(0, 4) == u"\\\\?\\" &&
                               ((name[4] >= u'A' && name[4] <= u'Z') ||
                                (name[4] >= u'a' && name[4] <= u'z')) &&
                               name[5] == u':' && name[6] == u'\\';
  return !long_drive_path;
}

// Whether the open file is the one of that very name, and not another that
// the name reaches as its 8.3 short name ("VERY~DLD.md5" for
// "verylongname.txt.md5x"): the normalized final path spells the long name.
bool OpenedUnderOwnName(HANDLE file, const wchar_t* name) {
  std::wstring path;
  return FinalPath(file, &path) &&
         SameIgnoringCase(LastComponent(path), LastComponent(name));
}

char16_t Upper(char16_t unit) {
  return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
}

bool EqualsUpper(std::u16string_view text, std::u16string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Upper(text[i]) != upper[i]) return false;
  }
  return true;
}

// A reserved device name opens a device in any folder, whatever follows it
// (COM1 opens the serial port, CON.txt the console): CON, PRN, AUX, NUL,
// COM1-9, LPT1-9 and their superscript-digit forms, CONIN$ and CONOUT$, in
// any case, with any extension and trailing dots or spaces.
bool NamesReservedDevice(std::u16string_view name) {
  std::size_t start = name.find_last_of(u"\\/");
  start = start == std::u16string_view::npos ? 0 : start + 1;
  if (start == 0 && name.size() >= 2 && name[1] == u':') start = 2;  // C:COM1
  std::u16string_view base = name.substr(start);
  base = base.substr(0, base.find_first_of(u".:"));
  while (!base.empty() && (base.back() == u' ' || base.back() == u'.')) {
    base.remove_suffix(1);
  }
  for (const char16_t* word :
       {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (EqualsUpper(base, word)) return true;
  }
  if (base.size() != 4) return false;
  const char16_t digit = base[3];
  const bool numbered = (digit >= u'1' && digit <= u'9') ||
                        digit == u'\u00b9' || digit == u'\u00b2' ||
                        digit == u'\u00b3';
  return numbered && (EqualsUpper(base.substr(0, 3), u"COM") ||
                      EqualsUpper(base.substr(0, 3), u"LPT"));
}

// Whatever the full path names in the device namespace, \\.\; a name
// whose full path does not resolve, however long, counts as one.
bool ResolvesToDevice(const wchar_t* name) {
  std::wstring full;
  return !win32::FullPath(name, &full) ||
         std::wstring_view(full).substr(0, 4) == L"\\\\.\\";
}

// The name as it is opened: exactly as written, so that the record of
// "trail." never reads "trail". Empty, with the last error set, where it
// cannot be had.
std::wstring Exact(const common::WideString& name) {
  std::wstring exact = win32::ExactPath(win32::W(name));
  if (exact.empty()) ::SetLastError(ERROR_INVALID_NAME);
  return exact;
}

}  // namespace

bool InputFile::Open(const common::WideString& name, WorkerContext& /*context*/,
                     Listed /*listed*/) {
  Close();
  if (NamesNetworkOrDevice(name.View())) {
    ::SetLastError(ERROR_BAD_NETPATH);
    return false;
  }
  // Never opened at all: opening some devices has effects of its own.
  if (NamesReservedDevice(name.View()) || ResolvesToDevice(win32::W(name))) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  const std::wstring exact = Exact(name);
  if (exact.empty()) return false;
  const HANDLE file =
      ::CreateFileW(exact.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  // CON, NUL, COM1 and pipes open like files but may block or never end.
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    Close();
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file, &size)) {
    Close();
    return false;
  }
  size_at_open_ = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

bool InputFile::Identity(FileId* identity) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(HandleOf(handle_), &info)) return false;
  *identity = {info.dwVolumeSerialNumber,
               std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
  return true;
}

// Wine reports no reparse point for a Unix symbolic link; its final path
// names the file the link leads to.
bool InputFile::UnderOwnName(const common::WideString& name) const {
  return OpenedUnderOwnName(HandleOf(handle_), win32::W(name));
}

bool NamesFile(const common::WideString& name) {
  if (NamesNetworkOrDevice(name.View()) || NamesReservedDevice(name.View())) {
    return false;
  }
  const std::wstring exact = Exact(name);
  const DWORD attributes = exact.empty() ? INVALID_FILE_ATTRIBUTES
                                         : ::GetFileAttributesW(exact.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool SizeByName(const common::WideString& name, std::uint64_t* size) {
  if (NamesNetworkOrDevice(name.View()) || NamesReservedDevice(name.View())) {
    return false;
  }
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  const std::wstring exact = Exact(name);
  if (exact.empty() ||
      !::GetFileAttributesExW(exact.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return false;
  }
  *size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  return true;
}

bool InputFile::Read(void* buffer, std::uint32_t size, std::uint32_t* read) {
  DWORD got = 0;
  const BOOL ok = ::ReadFile(HandleOf(handle_), buffer, size, &got, nullptr);
  *read = got;
  return ok != FALSE;
}

void InputFile::Close() { CloseKeepingError(&handle_); }

std::size_t RaiseOpenFileLimit(std::size_t wanted) { return wanted; }

}  // namespace platform
