#include "platform/last_error.h"
#include "platform/temporary_file.h"
#include "platform/win32/final_path.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace {

HANDLE HandleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

// Never created (OPEN_EXISTING), and never CREATE_ALWAYS, which fails on a
// hidden or system file. A reparse point, a file another entry also names
// (a hard link, a short name, a Unix link under Wine) or anything but a
// disk file is refused: writing through it would reach some other file.
bool InPlaceFile::Open(const common::WideString& wide) {
  Close();
  const wchar_t* name = win32::W(wide);
  const HANDLE file =
      ::CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) {
    Close();
    return false;
  }
  if ((info.dwFileAttributes &
       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks != 1 || ::GetFileType(file) != FILE_TYPE_DISK ||
      win32::EntryOpened(file, name) != win32::Entry::kOwn) {
    Close();
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

// The whole record from the start in one write, then the end cut there:
// written first, so that a failed write leaves the old record's length.
bool InPlaceFile::WriteWhole(const void* data, std::uint32_t size) {
  const HANDLE file = HandleOf(handle_);
  LARGE_INTEGER start = {};
  DWORD written = 0;
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
      !::WriteFile(file, data, size, &written, nullptr)) {
    return false;
  }
  if (written != size) {
    ::SetLastError(ERROR_DISK_FULL);
    return false;
  }
  return ::SetEndOfFile(file) != FALSE;
}

bool InPlaceFile::Flush() {
  return ::FlushFileBuffers(HandleOf(handle_)) != FALSE;
}

void InPlaceFile::Close() {
  if (HandleOf(handle_) == INVALID_HANDLE_VALUE) return;
  const PreserveLastError keep;
  ::CloseHandle(HandleOf(handle_));
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

}  // namespace platform
