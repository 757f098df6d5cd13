#include "platform/win32/final_path.h"

#include <iterator>

namespace platform {
namespace win32 {

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

}  // namespace win32
}  // namespace platform
