#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/posix/locale_codec.h"
#include "platform/posix/path_and_descriptor.h"
#include "platform/posix/worker_state.h"

namespace platform {
namespace {

using Context = WorkerContext::State;

constexpr off_t kHintThreshold = off_t{128} * 1024;

using posix::CloseKeepingError;
using posix::PathOf;

// Closes a descriptor that is not kept after all; -1, the failed open's
// answer.
int CloseFailing(int fd) {
  std::intptr_t handle = fd;
  CloseKeepingError(&handle);
  return -1;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// configfs keeps its number in the kernel's own headers only.
constexpr unsigned long kConfigFsMagic = 0x62656570;

// A pseudo file system's files claim sizes they do not have
// (/proc/self/pagemap yields some 256 GiB) and are no one's data to check.
bool IsPseudoType(unsigned long type) {
  switch (type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case kConfigFsMagic:
    case EFIVARFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
      return true;
    default:
      return false;
  }
}

// Refuses what is not an ordinary file, with the reason as errno.
bool IsRegular(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return true;
  errno = S_ISDIR(info.st_mode) ? EISDIR : static_cast<int>(kErrorNotSupported);
  return false;
}

// Whether the device is known to hold a pseudo file system, with EIO as
// errno where it does.
bool KnownPseudo(dev_t device, const Context& context, bool* pseudo) {
  if (!context.device_known || device != context.device) return false;
  *pseudo = context.device_pseudo;
  if (*pseudo) errno = EIO;
  return true;
}

// The first file of a device not asked before: its file system is asked of
// that very file, opened with O_PATH, which opens nothing, and kept for the
// device's next files (a folder's files share one, and a system call per
// file counts). False, with errno set, where it is no ordinary file's data
// or not the file `info` describes.
bool ProbeDevice(const char* path, const struct stat& info, Context& context) {
  const int probe = ::open(path, O_PATH | O_CLOEXEC);
  if (probe < 0) return false;
  struct stat probed;
  struct statfs system;
  const bool asked = ::fstat(probe, &probed) == 0 && IsRegular(probed) &&
                     ::fstatfs(probe, &system) == 0;
  CloseFailing(probe);
  if (!asked) return false;
  context.device_known = true;
  context.device = probed.st_dev;
  context.device_pseudo =
      IsPseudoType(static_cast<unsigned long>(system.f_type));
  if (context.device_pseudo) {
    errno = EIO;
    return false;
  }
  if (!SameFile(probed, info)) {
    errno = EAGAIN;  // it changed under the reader: read nothing of it
    return false;
  }
  return true;
}

// Opens a name for reading only when it is an ordinary file on a real file
// system. Opening a device has effects of its own (a watchdog starts, a tape
// rewinds, a modem line drops), so the name is first asked what it holds,
// without an open, and opened (non-blocking, without taking a terminal)
// only where that was an ordinary file; the file opened must then be the
// one asked of, or it is refused (the entry changed in between). Returns
// the descriptor, or -1 with errno set.
int OpenRegularFile(const char* path, struct stat* info, Context& context) {
  if (::stat(path, info) != 0 || !IsRegular(*info)) return -1;
  bool pseudo = false;
  if (KnownPseudo(info->st_dev, context, &pseudo)) {
    if (pseudo) return -1;
  } else if (!ProbeDevice(path, *info, context)) {
    return -1;
  }
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat opened;
  if (::fstat(fd, &opened) != 0) return CloseFailing(fd);
  if (!SameFile(opened, *info) || !S_ISREG(opened.st_mode)) {
    errno = EAGAIN;  // it changed under the reader: read nothing of it
    return CloseFailing(fd);
  }
  *info = opened;
  return fd;
}

}  // namespace

bool InputFile::Open(const WideString& name, WorkerContext& context) {
  Close();
  struct stat info;
  const int fd =
      OpenRegularFile(PathOf(name).c_str(), &info, context.Backend());
  if (fd < 0) return false;
  handle_ = fd;
  size_at_open_ = static_cast<std::uint64_t>(info.st_size);
  identity_ = {static_cast<std::uint64_t>(info.st_dev),
               static_cast<std::uint64_t>(info.st_ino)};
  // The sequential hint only matters past the kernel's first readahead; a
  // small file is read whole before it could help.
  if (info.st_size > kHintThreshold) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return true;
}

bool InputFile::Identity(FileId* identity) const {
  *identity = identity_;  // from the open's own fstat
  return true;
}

bool NamesFile(const WideString& name) {
  struct stat info;
  return ::stat(PathOf(name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool SizeByName(const WideString& name, std::uint64_t* size) {
  struct stat info;
  if (::fstatat(AT_FDCWD, PathOf(name).c_str(), &info, 0) != 0 ||
      !S_ISREG(info.st_mode)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(info.st_size);
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

bool InputFile::UnderOwnName(const WideString& /*name*/) const {
  return true;  // the listing tells links with lstat
}

void InputFile::Close() { CloseKeepingError(&handle_); }

}  // namespace platform
