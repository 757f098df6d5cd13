#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/locale_codec.h"
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

bool IsProcfs(const struct statfs& info) {
  return info.f_type == PROC_SUPER_MAGIC;
}

// Asked once per device and context: the files of a folder share one, and a
// system call per file counts when a folder holds many small files.
bool OnPseudoFileSystem(int fd, dev_t device, Context& context) {
  if (context.device_known && device == context.device) {
    return context.device_pseudo;
  }
  struct statfs info;
  if (::fstatfs(fd, &info) != 0) return false;
  context.device_known = true;
  context.device = device;
  context.device_pseudo = IsPseudoType(static_cast<unsigned long>(info.f_type));
  return context.device_pseudo;
}

// Refuses what is not an ordinary file's data, with the reason as errno.
bool IsRegularData(int fd, struct stat* info, Context& context) {
  if (::fstat(fd, info) != 0) return false;
  if (!S_ISREG(info->st_mode)) {
    errno =
        S_ISDIR(info->st_mode) ? EISDIR : static_cast<int>(kErrorNotSupported);
    return false;
  }
  if (OnPseudoFileSystem(fd, info->st_dev, context)) {
    errno = EIO;
    return false;
  }
  return true;
}

// /proc/self/fd, opened once per context, and only where it is procfs:
// anything else mounted over /proc would reopen whatever it names. -1 where
// there is no such folder to trust.
int DescriptorsFolder(Context& context) {
  if (context.descriptors == Context::kUnopened) {
    context.descriptors =
        ::open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
    // Out of descriptors for the moment: asked again with the next file.
    if (context.descriptors < 0 && (errno == EMFILE || errno == ENFILE)) {
      context.descriptors = Context::kUnopened;
      return -1;
    }
    struct statfs info;
    if (context.descriptors >= 0 &&
        (::fstatfs(context.descriptors, &info) != 0 || !IsProcfs(info))) {
      ::close(context.descriptors);
      context.descriptors = -1;
    }
  }
  return context.descriptors;
}

constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// The opened file must be the one asked of, and still an ordinary file, or
// it is refused (the entry changed in between).
int KeepIfSame(int fd, struct stat* info) {
  struct stat opened;
  if (::fstat(fd, &opened) != 0) return CloseFailing(fd);
  if (!SameFile(opened, *info) || !S_ISREG(opened.st_mode)) {
    errno = EAGAIN;  // it changed under the reader: read nothing of it
    return CloseFailing(fd);
  }
  *info = opened;
  return fd;
}

// The name is opened with O_PATH, which opens nothing, and that very inode
// is then reopened for reading through /proc. Without /proc, it is opened by
// path after O_PATH showed an ordinary file, and must be the probe's file.
int OpenThroughProbe(const char* path, struct stat* info, Context& context) {
  const int probe = ::open(path, O_PATH | O_CLOEXEC);
  if (probe < 0) return -1;
  if (!IsRegularData(probe, info, context)) return CloseFailing(probe);
  const int descriptors = DescriptorsFolder(context);
  char number[16];
  std::snprintf(number, sizeof number, "%d", probe);
  int fd = descriptors < 0 ? -1 : ::openat(descriptors, number, kReadFlags);
  // Through procfs the reopen is of the probe's own inode, by construction;
  // by path, the entry may have changed since the probe.
  const bool by_path = descriptors < 0 || (fd < 0 && errno == ENOENT);
  if (by_path) fd = ::open(path, kReadFlags);
  if (fd < 0) return CloseFailing(probe);
  CloseFailing(probe);
  return by_path ? KeepIfSame(fd, info) : fd;
}

// Opens a name for reading only when it is an ordinary file on a real file
// system. Opening a device has effects of its own (a watchdog starts, a tape
// rewinds, a modem line drops). The common case, a name in the folder
// itself that lstat shows as an ordinary file on a device already known to
// be real, is opened by name with O_NOFOLLOW (a link put there meanwhile
// fails, and goes the probe's way): a device can then only be put there by
// mknod, which takes privilege. A FIFO renamed there is opened and refused,
// which only wakes its own writer. In a folder listed whole that held only
// ordinary files and folders, the lstat is left out: the same holds of a
// name put there since (a path lookup a file counts in a folder of many).
// Every other name, a link or one through folders that could be swapped for
// links, goes through an O_PATH probe. Returns the descriptor, or -1 with
// errno set.
int OpenRegularFile(const char* path, struct stat* info, Context& context,
                    Listed listed) {
  if (std::strchr(path, '/') == nullptr && context.device_known &&
      !context.device_pseudo) {
    if (listed == Listed::kFolderOfFiles) {
      const int fd = ::open(path, kReadFlags | O_NOFOLLOW);
      if (fd >= 0) {
        return IsRegularData(fd, info, context) ? fd : CloseFailing(fd);
      }
      // A link, or a socket, put there since: the probe tells which.
      if (errno != ELOOP && errno != ENXIO) return -1;
    } else if (::lstat(path, info) == 0 && S_ISREG(info->st_mode) &&
               info->st_dev == context.device) {
      const int fd = ::open(path, kReadFlags | O_NOFOLLOW);
      if (fd >= 0) return KeepIfSame(fd, info);
      if (errno != ELOOP) return -1;
    }
  }
  return OpenThroughProbe(path, info, context);
}

}  // namespace

bool InputFile::Open(const common::WideString& name, WorkerContext& context,
                     Listed listed) {
  Close();
  struct stat info;
  const int fd =
      OpenRegularFile(PathOf(name).c_str(), &info, context.Backend(), listed);
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

bool NamesFile(const common::WideString& name) {
  struct stat info;
  return ::stat(PathOf(name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool SizeByName(const common::WideString& name, std::uint64_t* size) {
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

bool InputFile::UnderOwnName(const common::WideString& /*name*/) const {
  return true;  // the listing tells links with lstat
}

void InputFile::Close() { CloseKeepingError(&handle_); }

// The program waits on descriptors with poll, never select, so descriptors
// past 1,024 are safe.
std::size_t RaiseOpenFileLimit(std::size_t wanted) {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 128;
  const auto want = static_cast<rlim_t>(wanted);
  if (limit.rlim_cur < want && limit.rlim_cur < limit.rlim_max) {
    struct rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max < want ? limit.rlim_max : want;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<std::size_t>(limit.rlim_cur);
}

}  // namespace platform
