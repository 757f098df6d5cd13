// What another run left beside the digest files: a killed run's temporary
// file is removed, and only where it can be told to be one.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/last_error.h"
#include "platform/posix/path_and_descriptor.h"
#include "platform/temporary_file.h"

namespace platform {
namespace {

using posix::CloseKeepingError;
using posix::FolderOf;
using posix::kFuseMagic;
using posix::Names;
using posix::PathOf;

// File systems whose files other machines may hold: their locks and their
// temporary names may be another machine's. FUSE is among them (sshfs),
// unless it is on a block device (OnLocalFuse).
bool IsNetworkType(unsigned long type) {
  switch (type) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case 0xFF534D42:  // cifs
    case 0xFE534D42:  // smb2
    case V9FS_MAGIC:
    case AFS_SUPER_MAGIC:
    case CODA_SUPER_MAGIC:
    case 0x00C36400:  // ceph
    case 0x013111A8:  // ibrix
    case 0x47504653:  // gpfs
    case 0x0BD00BD0:  // lustre
    case kFuseMagic:
      return true;
    default:
      return false;
  }
}

// Whether the FUSE file system that holds `folder` sits on a block device
// (ntfs-3g, exfat-fuse), told by its type in /proc/self/mountinfo:
// statfs gives "fuse" and "fuseblk" one number.
bool OnLocalFuse(const std::string& folder) {
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0) return false;
  const std::string device = std::to_string(major(info.st_dev)) + ":" +
                             std::to_string(minor(info.st_dev));
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    // id parent major:minor root point options [tags...] - type source ...
    std::istringstream fields(line);
    std::string id, parent, numbers, field;
    fields >> id >> parent >> numbers;
    if (numbers != device) continue;
    while (fields >> field && field != "-") {
    }
    if (fields >> field && field == "fuseblk") return true;
  }
  return false;
}

// Up to kMostTemporaryData + 1 bytes of the file: more is not a record.
bool ReadStart(int fd, std::string* data) {
  data->assign(kMostTemporaryData + 1, '\0');
  std::size_t got = 0;
  while (got < data->size()) {
    const ssize_t put = ::read(fd, &(*data)[got], data->size() - got);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    if (put == 0) break;
    got += static_cast<std::size_t>(put);
  }
  data->resize(got);
  return got <= kMostTemporaryData;
}

}  // namespace

// The lock is taken on the file opened, and the name must still be that
// file when it is removed: a run that made it again meanwhile holds its own.
bool RemoveStray(const common::WideString& name) {
  const std::string path = PathOf(name);
  const PreserveLastError keep;
  const std::string folder = FolderOf(path);
  struct statfs where;
  if (::statfs(folder.c_str(), &where) != 0) return true;
  const auto type = static_cast<unsigned long>(where.f_type);
  if (IsNetworkType(type) && !(type == kFuseMagic && OnLocalFuse(folder))) {
    return true;
  }
  std::intptr_t fd = ::open(
      path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return errno != ELOOP;  // a link is any other name
  const int opened = static_cast<int>(fd);
  struct stat info;
  std::string data;
  bool ours = true;
  if (::fstat(opened, &info) == 0) {
    ours = S_ISREG(info.st_mode);
    // Locked: a live run's, left to it.
    if (ours && ::flock(opened, LOCK_EX | LOCK_NB) == 0) {
      ours = ReadStart(opened, &data) && CouldBeTemporaryData(data);
      if (ours && Names(opened, path)) ::unlink(path.c_str());
    }
  }
  CloseKeepingError(&fd);
  return ours;
}

}  // namespace platform
