#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/locale_codec.h"
#include "platform/posix/path_and_descriptor.h"
#include "platform/temporary_file.h"

namespace platform {
namespace {

using posix::CloseKeepingError;
using posix::FolderOf;
using posix::kFuseMagic;
using posix::Names;
using posix::PathOf;

std::string InFolder(const std::string& folder, std::uint64_t n,
                     const TemporaryFacts& facts) {
  const std::string name = TemporaryName(
      facts.made != 0 ? facts.process : static_cast<std::uint32_t>(::getpid()),
      n);
  return folder == "." ? name : folder + "/" + name;
}

// Whether /proc/self/fd is procfs, so that a link through it names the
// descriptor's own file.
bool TrustedDescriptors() {
  struct statfs info;
  return ::statfs("/proc/self/fd", &info) == 0 &&
         info.f_type == PROC_SUPER_MAGIC;
}

}  // namespace

// Opened without O_EXCL, so that it can be linked under a name at the end,
// and locked, so that no later run takes it for a killed run's once it is.
bool TemporaryFile::CreateUnnamed(const common::WideString& beside,
                                  TemporaryFacts& facts) {
  Remove();
  target_ = PathOf(beside);
  folder_ = FolderOf(target_);
  const int fd =
      facts.unnamed < 0
          ? -1
          : ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (facts.unnamed < 0 || errno == EOPNOTSUPP || errno == EISDIR ||
        errno == EINVAL) {
      facts.unnamed = -1;
      errno = static_cast<int>(kErrorNotSupported);
    }
    return false;
  }
  facts.unnamed = 1;
  ::flock(fd, LOCK_EX | LOCK_NB);
  handle_ = fd;
  posix::LearnNewFile(fd, &facts);
  made_ = facts;
  return true;
}

bool TemporaryFile::CreateNamed(const common::WideString& beside,
                                std::uint64_t n, TemporaryFacts& facts) {
  Remove();
  target_ = PathOf(beside);
  folder_ = FolderOf(target_);
  const std::string path = InFolder(folder_, n, facts);
  const int fd = ::open(
      path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  handle_ = fd;
  named_ = path;
  lingers_ = true;
  // Made by this process alone (O_EXCL): no one else can hold its lock yet.
  ::flock(fd, LOCK_EX | LOCK_NB);
  posix::LearnNewFile(fd, &facts);
  made_ = facts;
  return true;
}

bool TemporaryFile::Write(const void* data, std::uint32_t size,
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

bool TemporaryFile::Flush() { return ::fsync(static_cast<int>(handle_)) == 0; }

// syncfs returns 0 on FUSE without the server ever hearing of it.
bool TemporaryFile::FlushFileSystem() {
  struct statfs info;
  const int fd = static_cast<int>(handle_);
  if (::fstatfs(fd, &info) != 0) return false;
  if (static_cast<unsigned long>(info.f_type) == kFuseMagic) {
    errno = static_cast<int>(kErrorNotSupported);
    return false;
  }
  return ::syncfs(fd) == 0;
}

// Directly where the process may (AT_EMPTY_PATH), else through a procfs
// /proc, asked about only then.
bool TemporaryFile::Keep(std::uint64_t n, TemporaryFacts& facts) {
  if (!named_.empty()) return true;
  const int fd = static_cast<int>(handle_);
  // Made before the link, and moved after it: once the name exists, no
  // allocation may fail before named_ holds it for Remove.
  std::string path = InFolder(folder_, n, facts);
  int error = ENOENT;  // the process may not link that way
  if (facts.by_proc <= 0) {
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) {
      named_ = std::move(path);
      lingers_ = true;
      return true;
    }
    error = errno;
    if (error == ENOENT && facts.by_proc == 0) {
      facts.by_proc = TrustedDescriptors() ? 1 : -1;
    }
  }
  if (error == ENOENT && facts.by_proc > 0) {
    char through[32];
    std::snprintf(through, sizeof through, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, through, AT_FDCWD, path.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      named_ = std::move(path);
      lingers_ = true;
      return true;
    }
    error = errno;
  }
  errno = error;
  return false;
}

bool TemporaryFile::RenameOver(const common::WideString& /*name*/) {
  if (::rename(named_.c_str(), target_.c_str()) != 0) return false;
  named_.clear();
  lingers_ = false;
  return true;
}

void TemporaryFile::Close() {
  CloseKeepingError(&handle_);
  named_.clear();
  lingers_ = false;
}

void TemporaryFile::Remove() {
  if (handle_ >= 0 && !named_.empty() &&
      Names(static_cast<int>(handle_), named_)) {
    const PreserveLastError keep;
    ::unlink(named_.c_str());
  }
  Close();
}

bool RandomNumber(std::uint64_t* n) {
  ssize_t got = 0;
  do {
    got = ::getrandom(n, sizeof *n, 0);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof *n)) return true;
  if (got >= 0) errno = EIO;
  return false;
}

// A soft limit of 1,024 (the usual default) would halve each batch, and
// double the flushes: it is raised toward the hard limit as far as the
// most a batch holds needs.
std::size_t TemporaryFilesAtOnce() {
  constexpr std::size_t kWanted = 8192;  // twice the most it gives
  const std::size_t half = RaiseOpenFileLimit(kWanted) / 2;
  return half < 1 ? 1 : half > 4096 ? 4096 : half;
}

// syncfs alone reaches no FUSE server; an fsync of the folder does, and
// costs little elsewhere.
bool FlushFolderOf(const common::WideString& beside) {
  std::intptr_t folder = ::open(FolderOf(PathOf(beside)).c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  const int fd = static_cast<int>(folder);
  const bool flushed = ::syncfs(fd) == 0 && ::fsync(fd) == 0;
  CloseKeepingError(&folder);
  return flushed;
}

}  // namespace platform
