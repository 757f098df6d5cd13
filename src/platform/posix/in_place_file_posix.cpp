#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/posix/path_and_descriptor.h"
#include "platform/temporary_file.h"

namespace platform {

// Never created, and never a file someone may have planted in a sticky
// folder (CanReplace tells the same; this holds for a file put there since),
// never through a symbolic link
// (O_NOFOLLOW), and never a file another name also reaches: a link can lead
// anywhere. Non-blocking, so that a FIFO put there meanwhile is refused
// rather than waited on.
bool InPlaceFile::Open(const common::WideString& name) {
  Close();
  std::intptr_t fd =
      ::open(posix::PathOf(name).c_str(),
             O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(static_cast<int>(fd), &info) != 0) {
    posix::CloseKeepingError(&fd);
    return false;
  }
  if (S_ISREG(info.st_mode) &&
      posix::Planted(posix::PathOf(name), info.st_uid)) {
    posix::CloseKeepingError(&fd);
    return false;
  }
  if (!S_ISREG(info.st_mode) || info.st_nlink != 1) {
    posix::CloseKeepingError(&fd);
    errno =
        S_ISREG(info.st_mode) ? EMLINK : static_cast<int>(kErrorNotSupported);
    return false;
  }
  handle_ = fd;
  return true;
}

// One write from the start, then the cut: a reader meanwhile meets the old
// record's tail at worst, never a file emptied first.
bool InPlaceFile::WriteWhole(const void* data, std::uint32_t size) {
  const int fd = static_cast<int>(handle_);
  ssize_t put = 0;
  do {
    put = ::pwrite(fd, data, size, 0);
  } while (put < 0 && errno == EINTR);
  if (put < 0) return false;
  if (static_cast<std::uint32_t>(put) != size) {
    errno = static_cast<int>(kErrorDiskFull);
    return false;
  }
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool InPlaceFile::Flush() { return ::fsync(static_cast<int>(handle_)) == 0; }

void InPlaceFile::Close() { posix::CloseKeepingError(&handle_); }

}  // namespace platform
