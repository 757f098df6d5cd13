#include "platform/last_error.h"
#include "platform/win32/windows_include.h"

namespace platform {

const ErrorCode kErrorNoMoreFiles = ERROR_NO_MORE_FILES;
const ErrorCode kErrorDiskFull = ERROR_DISK_FULL;
const ErrorCode kErrorNotSupported = ERROR_NOT_SUPPORTED;
const ErrorCode kErrorInvalidName = ERROR_INVALID_NAME;
const ErrorCode kErrorFileNotFound = ERROR_FILE_NOT_FOUND;
const ErrorCode kErrorPathNotFound = ERROR_PATH_NOT_FOUND;
const ErrorCode kErrorFileExists = ERROR_FILE_EXISTS;
const ErrorCode kErrorNotEnoughMemory = ERROR_NOT_ENOUGH_MEMORY;
const ErrorCode kErrorShortRead = ERROR_HANDLE_EOF;

bool IsOutOfHandles(ErrorCode code) {
  return code == ERROR_TOO_MANY_OPEN_FILES;
}

bool IsRefused(ErrorCode code) { return code == ERROR_ACCESS_DENIED; }

ErrorCode GetLastErrorCode() { return ::GetLastError(); }

void SetLastErrorCode(ErrorCode code) { ::SetLastError(code); }

}  // namespace platform
