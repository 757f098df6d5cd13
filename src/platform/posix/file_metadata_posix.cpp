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
// The mode bits a digest file keeps: set-id bits mean nothing on it, a
// sticky one is kept. What a new file got is compared in these bits too.
constexpr mode_t kKeptMode = S_IRWXU | S_IRWXG | S_IRWXO | S_ISVTX;

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
// loses it where the old one had none. `acl` is whether it came with one
// (-1: not known).
bool DropAcl(int to, int acl) {
  if (acl == 0) return true;
  if (acl < 0 && ::fgetxattr(to, kAcl, nullptr, 0) < 0) return true;
  return ::fremovexattr(to, kAcl) == 0 || errno == ENODATA;
}

bool CopyAttributes(int from, int to, int acl, bool* carried_acl) {
  std::vector<char> names;
  if (!ReadWhole(&names, [&](char* list, std::size_t size) {
        return ::flistxattr(from, list, size);
      })) {
    return errno == ENOTSUP;  // a file system without them: none to carry
  }
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size();
       at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    if (!Carried(name)) continue;
    if (!ReadWhole(&value, [&](char* data, std::size_t size) {
          return ::fgetxattr(from, name, data, size);
        })) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return false;
    }
    if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
      return false;
    }
    *carried_acl = *carried_acl || std::strcmp(name, kAcl) == 0;
  }
  return *carried_acl || DropAcl(to, acl);
}

// Owner and group first, since fchown clears set-id bits, then the mode;
// each only where the new file does not have it already (`made`). Where the
// owner cannot be given back, the group and mode are still carried, and the
// refusal is the answer.
bool GiveBack(int to, const struct stat& old, const TemporaryFacts& made,
              bool carried_acl) {
  const bool known = made.made != 0;
  const uid_t self = known ? made.self : ::geteuid();
  const uid_t owner = old.st_uid == self ? static_cast<uid_t>(-1) : old.st_uid;
  bool ok = true;
  int error = 0;
  if (!known || old.st_uid != made.owner || old.st_gid != made.group) {
    ok = ::fchown(to, owner, old.st_gid) == 0;
    error = errno;
    if (!ok && owner != static_cast<uid_t>(-1)) {
      ::fchown(to, static_cast<uid_t>(-1), old.st_gid);
    }
  }
  // An ACL set here rewrites the mode's group bits.
  const mode_t mode = old.st_mode & kKeptMode;
  if ((!known || carried_acl || made.mode != mode) && ::fchmod(to, mode) != 0 &&
      ok) {
    ok = false;
    error = errno;
  }
  errno = error;
  return ok;
}

}  // namespace

bool posix::Planted(const std::string& path, std::uint32_t owner) {
  const uid_t self = ::geteuid();
  if (owner == self) return false;
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0) return false;
  if ((info.st_mode & S_ISVTX) == 0 ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || owner == info.st_uid) {
    return false;
  }
  errno = EACCES;
  return true;
}

// What every temporary file made in the folder gets, from the first one.
void posix::LearnNewFile(int fd, TemporaryFacts* facts) {
  struct stat info;
  if (facts->made != 0 || ::fstat(fd, &info) != 0) return;
  const PreserveLastError keep;
  facts->acl = ::fgetxattr(fd, kAcl, nullptr, 0) >= 0 ? 1
               : errno == ENODATA || errno == ENOTSUP ? 0
                                                      : -1;
  facts->process = static_cast<std::uint32_t>(::getpid());
  facts->self = ::geteuid();
  facts->owner = info.st_uid;
  facts->group = info.st_gid;
  facts->mode = info.st_mode & kKeptMode;
  facts->made = 1;
}

// Devices, FIFOs and sockets are never opened: opening some has effects of
// their own. Write permission is asked, not opened for (a file opened for
// writing tells watchers it was written when closed). A file with extended
// attributes is then opened for reading, for TakeFrom: every attribute it
// carries is the one file's. Another user's file is written in place where this
// process could not give it back (root can); the other cases that call for it
// (a group this process cannot set, a folder refusing new files, a sticky
// folder refusing the rename) show as refusals on the way, at no cost to the
// common case.
bool CanReplace(const common::WideString& name, OldFile* old, bool* in_place) {
  *in_place = false;
  old->Close();
  old->error_ = 0;
  old->found_ = false;
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
  // Neither written into nor replaced: root's replacement would give its
  // digest to whoever planted the file, by keeping the owner.
  if (posix::Planted(path, info.st_uid)) return false;
  const uid_t self = ::geteuid();
  *in_place = info.st_uid != self && self != 0 && info.st_nlink == 1;
  if (*in_place) return true;
  // Most files have no attributes to carry: then what the name showed is
  // all TakeFrom needs, and the file is not opened at all.
  const ssize_t listed = ::llistxattr(path.c_str(), nullptr, 0);
  if (listed == 0 || (listed < 0 && errno == ENOTSUP)) {
    old->found_ = true;
    old->owner_ = info.st_uid;
    old->group_ = info.st_gid;
    old->mode_ = info.st_mode;
    return true;
  }
  // Non-blocking, so that a FIFO put there meanwhile is not waited on.
  const int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
  old->handle_ = ::open(path.c_str(), O_RDONLY | flags);
  if (old->handle_ < 0 && errno == EACCES) {
    old->handle_ = ::open(path.c_str(), O_WRONLY | flags);
  }
  // Gone, or a link now: the name is replaced with nothing to carry.
  if (old->handle_ < 0 && errno != ENOENT && errno != ELOOP) {
    old->error_ = static_cast<std::uint32_t>(errno);
  }
  return true;
}

void OldFile::Close() { CloseKeepingError(&handle_); }

// A symbolic link, or nothing, at the name is replaced with nothing to
// carry.
bool TemporaryFile::TakeFrom(const common::WideString& /*name*/,
                             const OldFile& old) {
  if (old.error_ != 0) {
    errno = static_cast<int>(old.error_);
    return false;
  }
  const int to = static_cast<int>(handle_);
  const int acl = made_.made != 0 ? made_.acl : -1;
  bool carried_acl = false;
  struct stat info {};
  if (old.found_) {
    info.st_uid = old.owner_;
    info.st_gid = old.group_;
    info.st_mode = old.mode_;
    return DropAcl(to, acl) && GiveBack(to, info, made_, false);
  }
  const int from = static_cast<int>(old.handle_);
  if (from < 0) return true;
  if (::fstat(from, &info) != 0) return false;
  return !S_ISREG(info.st_mode) ||
         (CopyAttributes(from, to, acl, &carried_acl) &&
          GiveBack(to, info, made_, carried_acl));
}

}  // namespace platform
