#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/path_and_descriptor.h"
#include "platform/temporary_file.h"

namespace platform {
namespace {

using posix::CloseKeepingError;
using posix::PathOf;

constexpr const char* kAcl = "system.posix_acl_access";

// What users set that the new file takes: the ACL and the user.*
// attributes. security.* and trusted.* are the system's to set.
bool Carried(const char* name) {
  return std::strncmp(name, "user.", 5) == 0 || std::strcmp(name, kAcl) == 0;
}

// A list or a value read whole: its size asked first, and asked again
// where it grew meanwhile.
template <typename Read>
bool ReadWhole(std::vector<char>* into, Read read) {
  for (int tries = 0; tries < 3; ++tries) {
    const ssize_t size = read(nullptr, 0);
    if (size <= 0) {
      into->clear();
      return size == 0;
    }
    into->resize(static_cast<std::size_t>(size));
    const ssize_t got = read(into->data(), into->size());
    if (got >= 0) {
      into->resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
  return false;
}

// A folder's default ACL is put on every new file made there: the new file
// loses it where the old one had none.
bool CopyAttributes(int from, int to) {
  std::vector<char> names;
  if (!ReadWhole(&names, [&](char* list, std::size_t size) {
        return ::flistxattr(from, list, size);
      })) {
    return errno == ENOTSUP;  // a file system without them: none to carry
  }
  std::vector<char> value;
  bool acl = false;
  for (std::size_t at = 0; at < names.size();
       at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    if (!Carried(name)) continue;
    acl = acl || std::strcmp(name, kAcl) == 0;
    if (!ReadWhole(&value, [&](char* data, std::size_t size) {
          return ::fgetxattr(from, name, data, size);
        })) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return false;
    }
    if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
      return false;
    }
  }
  return acl || ::fgetxattr(to, kAcl, nullptr, 0) < 0 ||
         ::fremovexattr(to, kAcl) == 0;
}

// Owner and group first, since fchown clears set-id bits, then the mode.
// Where the owner cannot be given back, the group and mode are still
// carried, and the refusal is the answer.
bool GiveBack(int to, const struct stat& old) {
  const uid_t owner =
      old.st_uid == ::geteuid() ? static_cast<uid_t>(-1) : old.st_uid;
  bool ok = ::fchown(to, owner, old.st_gid) == 0;
  int error = errno;
  if (!ok && owner != static_cast<uid_t>(-1)) {
    ::fchown(to, static_cast<uid_t>(-1), old.st_gid);
  }
  // Set-id bits mean nothing on a digest file; a sticky one is kept.
  if (::fchmod(to, old.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO | S_ISVTX)) !=
          0 &&
      ok) {
    ok = false;
    error = errno;
  }
  errno = error;
  return ok;
}

}  // namespace

// Devices, FIFOs and sockets are never opened: opening some has effects of
// their own. Write permission is asked, not opened for: the file is opened
// again anyway, to carry what is set on it or to be written in place.
// Another user's file is written in place where this process could not
// give it back (root can); the other cases that call for it (a group this
// process cannot set, a folder refusing new files, a sticky folder refusing
// the rename) show as refusals on the way, at no cost to the common case.
bool CanReplace(const WideString& name, OldFile* /*old*/, bool* in_place) {
  *in_place = false;
  const std::string path = PathOf(name);
  struct stat info;
  if (::fstatat(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
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
  // access, not faccessat with AT_EACCESS, which glibc makes faccessat2
  // that some sandboxes refuse with EPERM; the program is never set-id, and
  // the link case is behind us.
  if (::access(path.c_str(), W_OK) != 0) {
    return errno == ENOENT;  // gone meanwhile
  }
  const uid_t self = ::geteuid();
  *in_place = info.st_uid != self && self != 0 && info.st_nlink == 1;
  return true;
}

namespace {

// The old file's descriptor, closed however TakeFrom ends (a failed
// allocation throws).
class OldDescriptor {
 public:
  explicit OldDescriptor(const std::string& path) {
    const int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
    fd_ = ::open(path.c_str(), O_RDONLY | flags);
    if (fd_ < 0 && errno == EACCES)
      fd_ = ::open(path.c_str(), O_WRONLY | flags);
  }
  ~OldDescriptor() { CloseKeepingError(&fd_); }
  OldDescriptor(const OldDescriptor&) = delete;
  OldDescriptor& operator=(const OldDescriptor&) = delete;
  int fd() const { return static_cast<int>(fd_); }

 private:
  std::intptr_t fd_ = -1;
};

}  // namespace

void OldFile::Close() { CloseKeepingError(&handle_); }

// Read through one descriptor on the old name, so that every attribute is
// the one file's; a symbolic link there is replaced, not copied from.
bool TemporaryFile::TakeFrom(const WideString& /*name*/,
                             const OldFile& /*found*/) {
  const OldDescriptor old(target_);
  if (old.fd() < 0) return errno == ENOENT || errno == ELOOP;
  struct stat info;
  const int to = static_cast<int>(handle_);
  if (::fstat(old.fd(), &info) != 0) return false;
  return !S_ISREG(info.st_mode) ||
         (CopyAttributes(old.fd(), to) && GiveBack(to, info));
}

}  // namespace platform
