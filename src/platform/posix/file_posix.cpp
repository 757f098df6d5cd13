#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/posix/locale_codec.h"
#include "platform/posix/worker_state.h"

namespace platform {
namespace {

using Context = WorkerContext::State;

constexpr off_t kHintThreshold = off_t{128} * 1024;

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

// Whether the name can take a digest file as it stands: a file there must
// open for writing (read-only, someone else's and busy files stop the run
// here, as they always have), and only an ordinary file, a link (which is
// replaced, never written through) or nothing passes. Devices, FIFOs and
// sockets are never opened: opening some has effects of their own.
bool CanReplace(const char* path) {
  struct stat info;
  if (::fstatat(AT_FDCWD, path, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  if (S_ISLNK(info.st_mode)) return true;
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    errno = static_cast<int>(kErrorNotSupported);
    return false;
  }
  const int fd =
      ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return errno == ELOOP || errno == ENOENT;  // changed meanwhile
  struct stat opened;
  const bool regular = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
  CloseFailing(fd);
  if (!regular) errno = static_cast<int>(kErrorNotSupported);
  return regular;
}

// The folder of a path, for the temporary file beside it.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return folder == "." ? name : folder + "/" + name;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsProcfs(const struct statfs& info) {
  return info.f_type == PROC_SUPER_MAGIC;
}

// Whether /proc/self/fd is procfs, so that a link through it names the
// descriptor's own file.
bool TrustedDescriptors() {
  struct statfs info;
  return ::statfs("/proc/self/fd", &info) == 0 && IsProcfs(info);
}

// Gives the unnamed file `fd` the first free temporary name in `folder`:
// directly where the process may (AT_EMPTY_PATH), else through a procfs
// /proc, asked about only then.
bool LinkUnnamed(int fd, const std::string& folder, std::string* named) {
  char through[32];
  std::snprintf(through, sizeof through, "/proc/self/fd/%d", fd);
  int proc = -1;  // unknown yet
  for (std::uint32_t n = 0;; ++n) {
    *named = InFolder(folder,
                      TemporaryName(static_cast<std::uint32_t>(::getpid()), n));
    if (::linkat(fd, "", AT_FDCWD, named->c_str(), AT_EMPTY_PATH) == 0) {
      return true;
    }
    int error = errno;  // ENOENT: the process may not link that way
    if (error == ENOENT) {
      if (proc < 0) proc = TrustedDescriptors() ? 1 : 0;
      if (proc == 1) {
        if (::linkat(AT_FDCWD, through, AT_FDCWD, named->c_str(),
                     AT_SYMLINK_FOLLOW) == 0) {
          return true;
        }
        error = errno;
      }
    }
    if (error != EEXIST) {
      errno = error;
      return false;
    }
  }
}

// A named temporary file, where the folder's file system makes no unnamed
// ones: the first free name, made by this process alone.
int CreateNamed(const std::string& folder, std::string* named) {
  for (std::uint32_t n = 0;; ++n) {
    *named = InFolder(folder,
                      TemporaryName(static_cast<std::uint32_t>(::getpid()), n));
    const int fd =
        ::open(named->c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
}

// Removes a temporary name this file was given, only while it still names
// this very file: a name of that form is never anyone else's to delete.
void Unlink(int fd, const std::string& named) {
  struct stat mine;
  struct stat there;
  if (::fstat(fd, &mine) == 0 && ::lstat(named.c_str(), &there) == 0 &&
      SameFile(mine, there)) {
    ::unlink(named.c_str());
  }
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

// Opens a name for reading only when it is an ordinary file on a real file
// system. Opening a device has effects of its own (a watchdog starts, a tape
// rewinds, a modem line drops), so the name is first opened with O_PATH,
// which opens nothing, and that very inode is then reopened for reading
// through /proc. Without /proc, the name is opened non-blocking, without
// taking a terminal, only after O_PATH showed an ordinary file, and the file
// opened must be the probe's own, or it is refused (the entry changed in
// between). Returns the descriptor, or -1 with errno set.
int OpenRegularFile(const char* path, struct stat* info, Context& context) {
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  const int probe = ::open(path, O_PATH | O_CLOEXEC);
  if (probe < 0) return -1;
  if (!IsRegularData(probe, info, context)) return CloseFailing(probe);
  const int descriptors = DescriptorsFolder(context);
  char number[16];
  std::snprintf(number, sizeof number, "%d", probe);
  int fd = descriptors < 0 ? -1 : ::openat(descriptors, number, flags);
  // Through procfs the reopen is of the probe's own inode, by construction;
  // by path, the entry may have changed since the probe.
  const bool by_path = descriptors < 0 || (fd < 0 && errno == ENOENT);
  if (by_path) fd = ::open(path, flags);
  if (fd < 0) return CloseFailing(probe);
  CloseFailing(probe);
  if (!by_path) return fd;
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

bool OutputFile::Create(const WideString& name) {
  Discard();
  const std::string path = PathOf(name);
  if (!CanReplace(path.c_str())) return false;
  const std::string folder = FolderOf(path);
  // Opened without O_EXCL, so that it can be linked under a name at the end.
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  temporary_.clear();
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    fd = CreateNamed(folder, &temporary_);
  }
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

bool OutputFile::Commit() {
  if (handle_ < 0) return false;
  // Some file systems report a failed write only at close, which comes
  // first; a second descriptor keeps the file for its name and its
  // identity. The name it is linked under lives until the rename, the next
  // call.
  const int fd = static_cast<int>(handle_);
  handle_ = ::dup(fd);
  bool ok = handle_ >= 0;
  ok = (::close(fd) == 0 || errno == EINTR) && ok;
  const std::string path = PathOf(name_);
  if (ok && temporary_.empty()) {
    ok = LinkUnnamed(static_cast<int>(handle_), FolderOf(path), &temporary_);
    if (!ok) temporary_.clear();
  }
  ok = ok && ::rename(temporary_.c_str(), path.c_str()) == 0;
  if (!ok) {
    Discard();
    return false;
  }
  temporary_.clear();
  CloseKeepingError(&handle_);
  return true;
}

void OutputFile::Discard() {
  if (handle_ < 0) return;
  const PreserveLastError keep;
  if (!temporary_.empty()) Unlink(static_cast<int>(handle_), temporary_);
  temporary_.clear();
  CloseKeepingError(&handle_);
}

bool FlushWrites() {
  const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  const bool flushed = ::syncfs(folder) == 0;
  CloseFailing(folder);
  return flushed;
}

}  // namespace platform
