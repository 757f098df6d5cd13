#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "platform/disk.h"
#include "platform/posix/rotational.h"

namespace platform {
namespace posix {
namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

bool IsRotational(const std::string& sysfs, unsigned major, unsigned minor) {
  std::string device = sysfs + "/dev/block/" + std::to_string(major) + ":" +
                       std::to_string(minor);
  if (!Exists(device) || Exists(device + "/dm") || Exists(device + "/md")) {
    return false;
  }
  // A partition's queue is its disk's, one folder up.
  if (Exists(device + "/partition")) device += "/..";
  std::ifstream flag(device + "/queue/rotational");
  int rotational = 0;
  return static_cast<bool>(flag >> rotational) && rotational == 1;
}

}  // namespace posix

bool CurrentFolderSeeks() {
  struct stat info;
  if (::stat(".", &info) != 0) return false;
  return posix::IsRotational("/sys", major(info.st_dev), minor(info.st_dev));
}

}  // namespace platform
