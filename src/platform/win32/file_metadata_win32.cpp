#include "platform/temporary_file.h"
#include "platform/win32/final_path.h"
#include "platform/win32/windows_include.h"

namespace platform {
// A file there must open for writing with no sharing (read-only and busy
// files stop the run here, as they always have) under its own name, never
// another file's short name, and be a disk file; a link there is replaced,
// never written through. One that opens for writing but not for deleting
// cannot be replaced: it is written where it is (InPlaceFile checks it).
bool CanReplace(const WideString& wide, bool* in_place) {
  *in_place = false;
  const wchar_t* name = win32::W(wide);
  const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
  HANDLE file = ::CreateFileW(name, GENERIC_WRITE | DELETE, 0, nullptr,
                              OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    file = ::CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags,
                         nullptr);
    *in_place = file != INVALID_HANDLE_VALUE;
    if (!*in_place) ::SetLastError(ERROR_ACCESS_DENIED);
  }
  if (file == INVALID_HANDLE_VALUE || *in_place) {
    if (*in_place) ::CloseHandle(file);
    return *in_place || ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  DWORD error = ERROR_SUCCESS;
  // Not GetFileInformationByHandle, which asks for the volume too: under
  // Wine a round trip per digest file.
  FILE_BASIC_INFO basic;
  const win32::Entry entry = win32::EntryOpened(file, name);
  if (entry == win32::Entry::kLink) {
    ::CloseHandle(file);
    return true;  // a link the folder does not show as one: replaced too
  }
  if (entry == win32::Entry::kAlias) {
    error = ERROR_FILE_EXISTS;
  } else if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic,
                                             sizeof basic)) {
    error = ::GetLastError();
  } else if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = ERROR_ACCESS_DENIED;  // what opening a folder for writing gives
  } else if (::GetFileType(file) != FILE_TYPE_DISK) {
    error = ERROR_NOT_SUPPORTED;
  }
  ::CloseHandle(file);
  ::SetLastError(error);
  return error == ERROR_SUCCESS;
}

// Not yet written: the new file takes the folder's defaults.
bool TemporaryFile::TakeFrom(const WideString&) { return true; }

}  // namespace platform
