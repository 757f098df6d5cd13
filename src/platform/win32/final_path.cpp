#include "platform/win32/final_path.h"

#include <iterator>
#include <string>

namespace platform {
namespace win32 {
namespace {

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

}  // namespace

std::wstring_view LastComponent(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

std::wstring FolderOf(const wchar_t* name) {
  const std::wstring_view path(name);
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos
             ? std::wstring()
             : std::wstring(path.substr(0, slash + 1));
}

bool FullPath(const wchar_t* name, std::wstring* full) {
  full->assign(MAX_PATH, L'\0');
  DWORD length = ::GetFullPathNameW(name, MAX_PATH, &(*full)[0], nullptr);
  if (length >= MAX_PATH) {  // the size it needs, its terminator counted
    full->assign(length, L'\0');
    length = ::GetFullPathNameW(name, static_cast<DWORD>(full->size()),
                                &(*full)[0], nullptr);
  }
  if (length == 0 || length >= full->size()) return false;
  full->resize(length);
  return true;
}

std::wstring ExactPath(const wchar_t* name) {
  const std::wstring_view path(name);
  std::size_t cut = path.find_last_of(L"\\/");
  cut = cut == std::wstring_view::npos ? 0 : cut + 1;
  if (cut == 0 && path.size() >= 2 && path[1] == L':') cut = 2;  // C:name
  const std::wstring_view last = path.substr(cut);
  if (last.empty() || last == L"." || last == L"..") return {};
  const std::wstring folder =
      cut == 0 ? L"." : std::wstring(path.substr(0, cut));
  std::wstring full;
  if (!FullPath(folder.c_str(), &full)) return {};
  if (full.back() != L'\\') full += L'\\';
  const std::wstring_view resolved(full);
  std::wstring exact;
  if (resolved.substr(0, 4) == L"\\\\?\\" ||
      resolved.substr(0, 4) == L"\\\\.\\") {
    exact = full;
  } else if (resolved.substr(0, 2) == L"\\\\") {
    exact = L"\\\\?\\UNC\\";
    exact += resolved.substr(2);
  } else {
    exact = L"\\\\?\\" + full;
  }
  return exact += last;
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

bool IsWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

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

}  // namespace win32
}  // namespace platform
