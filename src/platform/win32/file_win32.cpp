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

}  // namespace

bool InputFile::Open(const WideString& name) {
  Close();
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
  return true;
}

bool InputFile::Read(void* buffer, std::uint32_t size, std::uint32_t* read) {
  DWORD got = 0;
  const BOOL ok = ::ReadFile(HandleOf(handle_), buffer, size, &got, nullptr);
  *read = got;
  return ok != FALSE;
}

bool InputFile::GetSize(std::uint64_t* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(HandleOf(handle_), &value)) return false;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

void InputFile::Close() { CloseKeepingError(&handle_); }

OutputFile::~OutputFile() { CloseKeepingError(&handle_); }

bool OutputFile::Create(const WideString& name) {
  CloseKeepingError(&handle_);
  const HANDLE file =
      ::CreateFileW(win32::W(name), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
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

bool OutputFile::Close() {
  if (HandleOf(handle_) == INVALID_HANDLE_VALUE) return true;
  const HANDLE file = HandleOf(handle_);
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
  return ::CloseHandle(file) != FALSE;
}

void OutputFile::Discard() {
  const PreserveLastError keep;
  // What was written to may be a device (NUL, COM1) opened under this name.
  const bool disk = HandleOf(handle_) != INVALID_HANDLE_VALUE &&
                    ::GetFileType(HandleOf(handle_)) == FILE_TYPE_DISK;
  CloseKeepingError(&handle_);
  // Only an ordinary file under that very name: a symbolic link or junction
  // (a reparse point) stays, and so does whatever it points to.
  const DWORD attributes = ::GetFileAttributesW(win32::W(name_));
  const DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE |
                          FILE_ATTRIBUTE_REPARSE_POINT;
  if (disk && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & not_plain) == 0) {
    ::DeleteFileW(win32::W(name_));
  }
}

}  // namespace platform
