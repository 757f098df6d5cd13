#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <type_traits>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/posix/locale_codec.h"
#include "platform/posix/mapped_reader.h"

namespace platform {
namespace {

using posix::MappedReader;

constexpr off_t kHintThreshold = off_t{128} * 1024;

// The reader lives in the input file's backend storage from Open to Close.
template <typename Storage>
MappedReader& ReaderIn(Storage& storage) {
  static_assert(sizeof(MappedReader) <= sizeof storage &&
                alignof(MappedReader) <= alignof(std::uint64_t) &&
                std::is_trivially_destructible_v<MappedReader>);
  return *std::launder(reinterpret_cast<MappedReader*>(storage));
}

std::string PathOf(const WideString& name) {
  return posix::EncodeLocale(name.View());
}

void CloseKeepingError(std::intptr_t* handle) {
  if (*handle < 0) return;
  const PreserveLastError keep;
  ::close(static_cast<int>(*handle));
  *handle = -1;
}

// Closes a descriptor that is not kept after all; -1, the failed open's
// answer.
int CloseFailing(int fd) {
  std::intptr_t handle = fd;
  CloseKeepingError(&handle);
  return -1;
}

// Creation writes the digest file's own directory entry and nothing else: a
// symbolic link there (dangling or not) or a file shared through a hard
// link is replaced by a new file, never written through. O_NONBLOCK: a FIFO
// of that name without a reader fails at once instead of holding the run.
int OpenOwnEntry(const char* path) {
  const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
  const int fd = ::open(path, flags);
  bool replace = false;
  if (fd >= 0) {
    struct stat info;
    if (::fstat(fd, &info) != 0) return CloseFailing(fd);
    if (!S_ISREG(info.st_mode)) return fd;  // a device or FIFO, as asked
    if (info.st_nlink == 1) {
      return ::ftruncate(fd, 0) == 0 ? fd : CloseFailing(fd);
    }
    ::close(fd);
    replace = true;
  } else if (errno == ELOOP) {
    replace = true;
  } else if (errno != ENOENT) {
    return -1;
  }
  // A link, or a name another file shares: a new file in its place. Should
  // the entry change in between, O_EXCL fails and the run stops.
  if (replace && ::unlink(path) != 0) return -1;
  return ::open(path, flags | O_CREAT | O_EXCL, 0666);
}

}  // namespace

bool InputFile::Open(const WideString& name) {
  Close();
  // O_NONBLOCK: a FIFO without a writer must not hold the run; anything but
  // a regular file is refused right after.
  const int fd = ::open(PathOf(name).c_str(),
                        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  handle_ = fd;
  new (backend_) MappedReader();  // idle, all zero, until Start
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    Close();
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    Close();
    SetLastErrorCode(S_ISDIR(info.st_mode) ? EISDIR : kErrorNotSupported);
    return false;
  }
  size_at_open_ = static_cast<std::uint64_t>(info.st_size);
  ReaderIn(backend_).Start(fd, size_at_open_);
  // The sequential hint only matters past the kernel's first readahead; a
  // small file is read whole before it could help.
  if (info.st_size > kHintThreshold) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return true;
}

bool InputFile::Read(void* buffer, std::uint32_t size, std::uint32_t* read) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
    if (got >= 0) {
      *read = static_cast<std::uint32_t>(got);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

bool InputFile::GetSize(std::uint64_t* size) {
  // Open has just asked the kernel; a second fstat per file is measurable
  // when a directory holds many small digest files.
  *size = size_at_open_;
  return true;
}

bool InputFile::ReadBlock(std::uint8_t* buffer, std::uint32_t size,
                          const std::uint8_t** block, std::uint32_t* read) {
  MappedReader& mapped = ReaderIn(backend_);
  if (!mapped.Next(size, block, read)) return false;
  if (*read != 0) return true;
  // Past the mapped part (or none): a file that grew, or a small one.
  *block = buffer;
  if (!Read(buffer, size, read)) return false;
  return *read != 0 || mapped.CheckNotShrunk();
}

void InputFile::Close() {
  if (handle_ < 0) return;
  const PreserveLastError keep;
  ReaderIn(backend_).Stop();
  CloseKeepingError(&handle_);
}

OutputFile::~OutputFile() { CloseKeepingError(&handle_); }

bool OutputFile::Create(const WideString& name) {
  CloseKeepingError(&handle_);
  const int fd = OpenOwnEntry(PathOf(name).c_str());
  if (fd < 0) return false;
  handle_ = fd;
  name_ = name;
  return true;
}

bool OutputFile::Write(const void* data, std::uint32_t size,
                       std::uint32_t* written) {
  const auto* bytes = static_cast<const char*>(data);
  std::uint32_t done = 0;
  while (done < size) {
    const ssize_t put =
        ::write(static_cast<int>(handle_), bytes + done, size - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      *written = done;
      return false;
    }
    if (put == 0) break;
    done += static_cast<std::uint32_t>(put);
  }
  *written = done;
  return true;
}

bool OutputFile::Close() {
  if (handle_ < 0) return true;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  return ::close(fd) == 0 || errno == EINTR;
}

void OutputFile::Discard() {
  const PreserveLastError keep;
  CloseKeepingError(&handle_);
  // Only an ordinary file under that very name: a link (to /dev/full, say)
  // or a device stays as it was.
  const std::string path = PathOf(name_);
  struct stat named;
  if (::lstat(path.c_str(), &named) == 0 && S_ISREG(named.st_mode)) {
    ::unlink(path.c_str());
  }
}

}  // namespace platform
