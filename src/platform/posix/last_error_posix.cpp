#include <cerrno>

#include "platform/last_error.h"

namespace platform {

// readdir() reports its end by leaving errno alone; ENODATA is never one of
// its errors, so it can stand for the end of an enumeration.
const ErrorCode kErrorNoMoreFiles = ENODATA;
const ErrorCode kErrorDiskFull = ENOSPC;
const ErrorCode kErrorNotSupported = EOPNOTSUPP;
const ErrorCode kErrorInvalidName = EILSEQ;
const ErrorCode kErrorFileNotFound = ENOENT;
const ErrorCode kErrorPathNotFound = ENOTDIR;
const ErrorCode kErrorFileExists = EEXIST;
const ErrorCode kErrorNotEnoughMemory = ENOMEM;
const ErrorCode kErrorShortRead = EIO;

bool IsOutOfHandles(ErrorCode code) { return code == EMFILE || code == ENFILE; }

bool IsRefused(ErrorCode code) { return code == EACCES || code == EPERM; }

ErrorCode GetLastErrorCode() { return static_cast<ErrorCode>(errno); }

void SetLastErrorCode(ErrorCode code) { errno = static_cast<int>(code); }

}  // namespace platform
