#pragma once

#include <cstdint>

namespace platform {

// The platform's own error number: GetLastError() on Windows, errno on POSIX.
// It travels unchanged so that the error box shows the platform's own text.
// Threads: the last error is each thread's own.
using ErrorCode = std::uint32_t;

ErrorCode GetLastErrorCode();
void SetLastErrorCode(ErrorCode code);

// Codes the core must name; each backend gives its platform's value.
extern const ErrorCode kErrorNoMoreFiles;
extern const ErrorCode kErrorDiskFull;
extern const ErrorCode kErrorNotSupported;
extern const ErrorCode kErrorInvalidName;
extern const ErrorCode kErrorFileNotFound;
extern const ErrorCode kErrorPathNotFound;
extern const ErrorCode kErrorFileExists;
extern const ErrorCode kErrorNotEnoughMemory;
// A file that ended short of its size at open.
extern const ErrorCode kErrorShortRead;

// Whether a failed open ran out of descriptors or handles (the process's or
// the system's), a failure of the moment rather than of the file.
bool IsOutOfHandles(ErrorCode code);

// Whether a call was refused for want of permission (EACCES, EPERM;
// ERROR_ACCESS_DENIED), where another way may still be allowed.
bool IsRefused(ErrorCode code);

// Keeps the last error across cleanup calls (closing a handle must not
// replace the code of the call that failed).
class PreserveLastError {
 public:
  PreserveLastError() : saved_(GetLastErrorCode()) {}
  ~PreserveLastError() { SetLastErrorCode(saved_); }
  PreserveLastError(const PreserveLastError&) = delete;
  PreserveLastError& operator=(const PreserveLastError&) = delete;

 private:
  ErrorCode saved_;
};

}  // namespace platform
