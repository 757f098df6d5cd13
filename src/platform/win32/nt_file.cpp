#include "platform/win32/nt_file.h"

#include <cstddef>
#include <cstring>
#include <string_view>

// After <windows.h>, which nt_file.h brings.
#include <winternl.h>

#include "platform/win32/final_path.h"
#include "platform/win32/looked_up.h"

// Wine's own, with no SDK declaration: exported cdecl, as Wine's
// kernel32 exports it. Declared for its type alone, never linked.
extern "C" char* CDECL wine_get_unix_file_name(const WCHAR* dos);

namespace platform {
namespace win32 {
namespace {

HMODULE Ntdll() { return ::GetModuleHandleW(L"ntdll.dll"); }

// Under Wine, the NT form of `full` through Wine's Unix names,
// \??\unix\<the folder's Unix path>\<name>: Wine looks such a name up
// exactly, where for a DOS name that is not there (a file about to be made)
// it reads the whole folder for one differing in case. Empty where the
// folder's Unix path is not plain ASCII, which alone is certain to come
// back as the same bytes.
std::wstring UnixNtPath(std::wstring_view full) {
  const auto unix_name = DIGESTBOX_LOOKED_UP(
      ::GetModuleHandleW(L"kernel32.dll"), wine_get_unix_file_name);
  const std::size_t slash = full.find_last_of(L'\\');
  if (unix_name == nullptr || slash == std::wstring_view::npos) return {};
  const std::wstring folder(full.substr(0, slash + 1));
  char* const path = unix_name(folder.c_str());
  if (path == nullptr) return {};
  std::wstring nt = L"\\??\\unix";
  bool plain = path[0] == '/';
  for (const char* c = path; *c != '\0' && plain; ++c) {
    plain = *c >= 0x20 && *c < 0x7f && *c != '\\';
    nt += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  }
  ::HeapFree(::GetProcessHeap(), 0, path);
  if (!plain) return {};
  if (nt.back() != L'\\') nt += L'\\';
  return nt += full.substr(slash + 1);
}

// The NT form of a name's full path, its last component exactly as written:
// \??\C:\..., \??\UNC\server\...; under Wine the one of Wine's Unix names
// where it can be had. Empty where the name has no such form.
std::wstring NtPath(const wchar_t* name) {
  const std::wstring exact = ExactPath(name);
  std::wstring_view path(exact);
  if (path.substr(0, 4) != L"\\\\?\\") return {};
  path.remove_prefix(4);
  const bool unc = path.substr(0, 4) == L"UNC\\";
  if (!unc && IsWine()) {
    std::wstring unix_nt = UnixNtPath(path);
    if (!unix_nt.empty()) return unix_nt;
  }
  return L"\\??\\" + std::wstring(path);
}

// The calling thread's last error from an NTSTATUS.
void SetLastStatus(NTSTATUS status) {
  const auto to_error = DIGESTBOX_LOOKED_UP(Ntdll(), RtlNtStatusToDosError);
  ::SetLastError(to_error != nullptr ? to_error(status) : ERROR_NOT_SUPPORTED);
}

}  // namespace

HANDLE CreateExactly(const std::wstring& name, bool doomed) {
  const auto create = DIGESTBOX_LOOKED_UP(Ntdll(), NtCreateFile);
  std::wstring path = NtPath(name.c_str());
  if (create == nullptr || path.empty() || path.size() >= 32767) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING unicode = {static_cast<USHORT>(path.size() * sizeof(wchar_t)),
                            static_cast<USHORT>(path.size() * sizeof(wchar_t)),
                            &path[0]};
  // No OBJ_CASE_INSENSITIVE: names matched exactly.
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof attributes;
  attributes.ObjectName = &unicode;
  constexpr ULONG kCreate = 2;                   // FILE_CREATE
  constexpr ULONG kOptions = 0x4 | 0x20 | 0x40;  // sequential, synchronous,
                                                 // not a folder
  constexpr ULONG kDeleteOnClose = 0x1000;
  constexpr ACCESS_MASK kWrite = GENERIC_WRITE | DELETE | SYNCHRONIZE;
  NTSTATUS status = 0;
  for (const ACCESS_MASK access :
       {kWrite | READ_CONTROL | WRITE_DAC | WRITE_OWNER, kWrite}) {
    HANDLE file = INVALID_HANDLE_VALUE;
    IO_STATUS_BLOCK status_block = {};
    status = create(&file, access, &attributes, &status_block, nullptr,
                    FILE_ATTRIBUTE_NORMAL, 0, kCreate,
                    kOptions | (doomed ? kDeleteOnClose : 0), nullptr, 0);
    if (status >= 0) return file;
    SetLastStatus(status);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
      ::SetLastError(ERROR_FILE_EXISTS);  // as CreateFileW says it
    }
    if (::GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  return INVALID_HANDLE_VALUE;
}

std::string LinkInformation(const wchar_t* name, bool replace) {
  const std::wstring nt = NtPath(name);
  if (nt.empty()) return {};  // LinkWith then refuses
  const std::size_t bytes = nt.size() * sizeof(wchar_t);
  std::string buffer(offsetof(FILE_RENAME_INFO, FileName) + bytes, '\0');
  auto* link = reinterpret_cast<FILE_RENAME_INFO*>(&buffer[0]);
  link->ReplaceIfExists = replace ? TRUE : FALSE;
  link->RootDirectory = nullptr;
  link->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(link->FileName, nt.data(), bytes);
  return buffer;
}

bool LinkWith(HANDLE file, std::string& link) {
  const auto set = DIGESTBOX_LOOKED_UP(Ntdll(), NtSetInformationFile);
  if (set == nullptr || link.empty()) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  constexpr auto kFileLinkInformation = static_cast<FILE_INFORMATION_CLASS>(11);
  IO_STATUS_BLOCK status_block = {};
  const NTSTATUS status =
      set(file, &status_block, &link[0], static_cast<ULONG>(link.size()),
          kFileLinkInformation);
  if (status >= 0) return true;
  SetLastStatus(status);
  const DWORD error = ::GetLastError();
  if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
      error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_INVALID_PARAMETER) {
    ::SetLastError(ERROR_ACCESS_DENIED);
  }
  return false;
}

}  // namespace win32
}  // namespace platform
