#include <limits.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/disk.h"
#include "platform/posix/rotational.h"

namespace platform {
namespace posix {
namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// The smallest limit along `path` and the folders above it up to `root`,
// each read by `limit_in` (0: none there).
template <typename LimitIn>
unsigned SmallestUpTo(const std::string& root, std::string path,
                      LimitIn limit_in) {
  unsigned smallest = 0;
  for (;;) {
    const unsigned limit = limit_in(root + path);
    if (limit != 0 && (smallest == 0 || limit < smallest)) smallest = limit;
    if (path.empty() || path == "/") return smallest;
    path.erase(path.find_last_of('/'));
  }
}

unsigned CpusOf(long long quota, long long period) {
  if (quota <= 0 || period <= 0) return 0;
  return static_cast<unsigned>((quota + period - 1) / period);
}

// cgroup v2: cpu.max holds "max 100000" or "<quota> <period>".
unsigned V2Limit(const std::string& folder) {
  std::ifstream file(folder + "/cpu.max");
  std::string quota;
  long long period = 0;
  if (!(file >> quota >> period) || quota == "max") return 0;
  return CpusOf(std::atoll(quota.c_str()), period);
}

// cgroup v1: cpu.cfs_quota_us (-1: none) over cpu.cfs_period_us.
unsigned V1Limit(const std::string& folder) {
  std::ifstream quota_file(folder + "/cpu.cfs_quota_us");
  std::ifstream period_file(folder + "/cpu.cfs_period_us");
  long long quota = 0;
  long long period = 0;
  if (!(quota_file >> quota) || !(period_file >> period)) return 0;
  return CpusOf(quota, period);
}

unsigned Smaller(unsigned a, unsigned b) {
  if (a == 0) return b;
  return b == 0 ? a : std::min(a, b);
}

constexpr const char* kHypervisorDrivers[] = {"virtio_blk", "virtio_scsi",
                                              "vbd",        "xen-blkfront",
                                              "vmw_pvscsi", "hv_storvsc"};

// The drivers of disks a hypervisor gives its guests (KVM's virtio, Xen,
// VMware, Hyper-V): most say they seek, whatever stands behind them (an
// image on solid-state storage, a network store), and reads queued deeper
// there come back sooner: two readers read about twice as fast as one.
bool GivenByHypervisor(const std::string& device) {
  char resolved[PATH_MAX];
  if (::realpath(device.c_str(), resolved) == nullptr) return false;
  // The disk, its device and their parents up to the bus each name theirs.
  for (std::string at = resolved; at.size() > 1;
       at.erase(at.find_last_of('/'))) {
    char target[PATH_MAX];
    const ssize_t got =
        ::readlink((at + "/driver").c_str(), target, sizeof target - 1);
    if (got <= 0) continue;
    target[got] = '\0';
    const char* slash = std::strrchr(target, '/');
    const char* driver = slash == nullptr ? target : slash + 1;
    for (const char* known : kHypervisorDrivers) {
      if (std::strcmp(driver, known) == 0) return true;
    }
  }
  return false;
}

}  // namespace

unsigned CgroupCpuLimit(const std::string& cgroups, const std::string& root) {
  std::istringstream lines(cgroups);
  std::string line;
  unsigned limit = 0;
  while (std::getline(lines, line)) {
    // hierarchy:controllers:path
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::string path = line.substr(second + 1);
    if (!path.empty() && path.back() == '/') path.pop_back();
    if (controllers.empty()) {
      limit = Smaller(limit, SmallestUpTo(root, path, V2Limit));
      continue;
    }
    std::istringstream names(controllers);
    std::string name;
    while (std::getline(names, name, ',')) {
      if (name != "cpu") continue;
      for (const char* folder : {"/cpu,cpuacct", "/cpu", "/cpuacct,cpu"}) {
        limit = Smaller(limit, SmallestUpTo(root + folder, path, V1Limit));
      }
    }
  }
  return limit;
}

DiskKind KindOfDisk(const std::string& sysfs, unsigned major, unsigned minor) {
  std::string device = sysfs + "/dev/block/" + std::to_string(major) + ":" +
                       std::to_string(minor);
  if (!Exists(device) || Exists(device + "/dm") || Exists(device + "/md")) {
    return DiskKind::kOther;
  }
  // A partition's queue is its disk's, one folder up.
  if (Exists(device + "/partition")) device += "/..";
  if (GivenByHypervisor(device)) return DiskKind::kVirtual;
  std::ifstream flag(device + "/queue/rotational");
  int rotational = 0;
  return (flag >> rotational) && rotational == 1 ? DiskKind::kSpinning
                                                 : DiskKind::kOther;
}

}  // namespace posix

unsigned UsableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  unsigned cpus = std::max(1u, std::thread::hardware_concurrency());
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    cpus = static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
  }
  std::ifstream file("/proc/self/cgroup");
  std::stringstream cgroups;
  cgroups << file.rdbuf();
  const unsigned quota = posix::CgroupCpuLimit(cgroups.str(), "/sys/fs/cgroup");
  return quota == 0 ? cpus : std::min(cpus, quota);
}

DiskKind CurrentFolderDisk() {
  struct stat info;
  if (::stat(".", &info) != 0) return DiskKind::kOther;
  return posix::KindOfDisk("/sys", major(info.st_dev), minor(info.st_dev));
}

}  // namespace platform
