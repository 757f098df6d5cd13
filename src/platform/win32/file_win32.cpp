#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace {

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

std::wstring_view LastComponent(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

// The folder part of a name, with its separator; empty for a bare name.
std::wstring FolderOf(const wchar_t* name) {
  const std::wstring_view path(name);
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos
             ? std::wstring()
             : std::wstring(path.substr(0, slash + 1));
}

bool FinalPath(HANDLE handle, std::wstring* path) {
  wchar_t buffer[32768];
  const DWORD length = ::GetFinalPathNameByHandleW(
      handle, buffer, static_cast<DWORD>(std::size(buffer)),
      FILE_NAME_NORMALIZED);
  if (length == 0 || length >= std::size(buffer)) return false;
  path->assign(buffer, length);
  return true;
}

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Whether the open file is the one of that very name, and not another that
// the name reaches as its 8.3 short name ("VERY~DLD.md5" for
// "verylongname.txt.md5x"): the normalized final path spells the long name.
bool OpenedUnderOwnName(HANDLE file, const wchar_t* name) {
  std::wstring path;
  return FinalPath(file, &path) &&
         SameIgnoringCase(LastComponent(path), LastComponent(name));
}

bool IsWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// FileCaseSensitiveInfo (Windows 10 1803), which older headers lack.
constexpr int kFileCaseSensitiveInfo = 23;
constexpr ULONG kCaseSensitiveDir = 0x1;

// Whether the folder tells names apart by case: one marked so on Windows;
// every folder under Wine, whose folders are Linux folders.
bool CaseSensitive(HANDLE folder) {
  if (IsWine()) return true;
  ULONG flags = 0;
  return ::GetFileInformationByHandleEx(
             folder,
             static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileCaseSensitiveInfo),
             &flags, sizeof flags) &&
         (flags & kCaseSensitiveDir) != 0;
}

enum class Entry {
  kOwn,    // the entry of that very name
  kAlias,  // another entry of the folder: a short name, another case
  kLink,   // a file in another folder: a link the folder does not show
};

// Which entry the open file is for `name`: its final path's folder against
// the final path of the folder `name` is in, and its last component against
// the name, exactly where the folder keeps case, else ignoring case (so a
// digest file of "photo.jpg" is still that of "Photo.jpg").
Entry EntryOpened(HANDLE file, const wchar_t* name) {
  std::wstring folder_name = FolderOf(name);
  if (folder_name.empty()) folder_name = L".";
  const HANDLE folder = ::CreateFileW(
      folder_name.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::wstring own;
  std::wstring folder_path;
  const bool known = folder != INVALID_HANDLE_VALUE && FinalPath(file, &own) &&
                     FinalPath(folder, &folder_path);
  const bool exact = known && CaseSensitive(folder);
  if (folder != INVALID_HANDLE_VALUE) ::CloseHandle(folder);
  if (!known) return Entry::kAlias;  // cannot tell: never write through
  const std::size_t own_slash = own.find_last_of(L'\\');
  const std::wstring_view own_folder = std::wstring_view(own).substr(
      0, own_slash == std::wstring::npos ? 0 : own_slash);
  std::wstring_view expected_folder(folder_path);
  while (!expected_folder.empty() && expected_folder.back() == L'\\') {
    expected_folder.remove_suffix(1);
  }
  if (own_folder != expected_folder) return Entry::kLink;
  const std::wstring_view own_name = LastComponent(own);
  const std::wstring_view asked_name = LastComponent(name);
  const bool same =
      exact ? own_name == asked_name : SameIgnoringCase(own_name, asked_name);
  return same ? Entry::kOwn : Entry::kAlias;
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

// Whatever the full path names in the device namespace, \\.\.
bool ResolvesToDevice(const wchar_t* name) {
  wchar_t full[MAX_PATH];
  const DWORD length = ::GetFullPathNameW(name, MAX_PATH, full, nullptr);
  return length >= 4 && length < MAX_PATH &&
         std::wstring_view(full, 4) == L"\\\\.\\";
}

// Whether the name can take a digest file as it stands: a file there must
// open for writing with no sharing (read-only and busy files stop the run
// here, as they always have) under its own name, never another file's short
// name, and be a disk file; a link there is replaced, never written through.
bool CanReplace(const wchar_t* name) {
  const HANDLE file = ::CreateFileW(
      name, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  DWORD error = ERROR_SUCCESS;
  BY_HANDLE_FILE_INFORMATION info;
  const Entry entry = EntryOpened(file, name);
  if (entry == Entry::kLink) {
    ::CloseHandle(file);
    return true;  // a link the folder does not show as one: replaced too
  }
  if (entry == Entry::kAlias) {
    error = ERROR_FILE_EXISTS;
  } else if (!::GetFileInformationByHandle(file, &info)) {
    error = ::GetLastError();
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = ERROR_ACCESS_DENIED;  // what opening a folder for writing gives
  } else if (::GetFileType(file) != FILE_TYPE_DISK) {
    error = ERROR_NOT_SUPPORTED;
  }
  ::CloseHandle(file);
  ::SetLastError(error);
  return error == ERROR_SUCCESS;
}

bool SetDeleteOnClose(HANDLE file, bool doomed) {
  FILE_DISPOSITION_INFO dispose = {};
  dispose.DeleteFile = doomed ? TRUE : FALSE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose,
                                      sizeof dispose) != FALSE;
}

// The temporary file, hidden and deleted on close until it is complete, so
// that a killed process leaves nothing behind.
HANDLE CreateTemporary(const std::wstring& folder) {
  for (std::uint32_t n = 0;; ++n) {
    const std::string ascii = TemporaryName(::GetCurrentProcessId(), n);
    const std::wstring name = folder + std::wstring(ascii.begin(), ascii.end());
    const HANDLE file = ::CreateFileW(
        name.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      if (SetDeleteOnClose(file, true)) return file;
      const PreserveLastError keep;
      ::CloseHandle(file);
      ::DeleteFileW(name.c_str());  // just made by this process
      return INVALID_HANDLE_VALUE;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
  }
}

// Renames the open file over `name` in one step, replacing what is there.
bool RenameOver(HANDLE file, const wchar_t* name) {
  const std::size_t length = std::wcslen(name);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                    length * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
  std::memcpy(rename->FileName, name, length * sizeof(wchar_t));
  return ::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) !=
         FALSE;
}

}  // namespace

bool InputFile::Open(const WideString& name, WorkerContext& /*context*/) {
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
  const HANDLE file =
      ::CreateFileW(win32::W(name), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  // CON, NUL, COM1 and pipes open like files but may block or never end.
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    Close();
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) {
    Close();
    return false;
  }
  size_at_open_ = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  identity_ = {info.dwVolumeSerialNumber,
               std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
  return true;
}

// Wine reports no reparse point for a Unix symbolic link; its final path
// names the file the link leads to.
bool InputFile::UnderOwnName(const WideString& name) const {
  return OpenedUnderOwnName(HandleOf(handle_), win32::W(name));
}

bool NamesFile(const WideString& name) {
  if (NamesNetworkOrDevice(name.View()) || NamesReservedDevice(name.View())) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(win32::W(name));
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool SizeByName(const WideString& name, std::uint64_t* size) {
  if (NamesNetworkOrDevice(name.View()) || NamesReservedDevice(name.View())) {
    return false;
  }
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(win32::W(name), GetFileExInfoStandard, &data) ||
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

bool OutputFile::Create(const WideString& name) {
  Discard();
  if (!CanReplace(win32::W(name))) return false;
  const HANDLE file = CreateTemporary(FolderOf(win32::W(name)));
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  name_ = name;
  return true;
}

bool OutputFile::Write(const void* data, std::uint32_t size,
                       std::uint32_t* written) {
  DWORD put = 0;
  const BOOL ok = ::WriteFile(HandleOf(handle_), data, size, &put, nullptr);
  *written = put;
  return ok != FALSE;
}

// Complete: kept on close, renamed over the name, then shown. A rename that
// fails (a process opened the name meanwhile) marks it for deletion again.
bool OutputFile::Commit() {
  const HANDLE file = HandleOf(handle_);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (!SetDeleteOnClose(file, false) || !RenameOver(file, win32::W(name_))) {
    const PreserveLastError keep;
    SetDeleteOnClose(file, true);
    CloseKeepingError(&handle_);
    return false;
  }
  // The folder's default attributes, as a file made under the name has.
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  const bool shown = ::SetFileInformationByHandle(file, FileBasicInfo, &basic,
                                                  sizeof basic) != FALSE;
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
  return ::CloseHandle(file) != FALSE && shown;
}

// Marked for deletion again, since a commit that failed part way (memory
// that ran out before the rename) may have unmarked it: closing removes it.
void OutputFile::Discard() {
  if (HandleOf(handle_) == INVALID_HANDLE_VALUE) return;
  {
    const PreserveLastError keep;
    SetDeleteOnClose(HandleOf(handle_), true);
  }
  CloseKeepingError(&handle_);
}

bool FlushWrites() { return true; }

}  // namespace platform
