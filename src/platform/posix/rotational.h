#pragma once

#include <string>

#include "platform/disk.h"

namespace platform::posix {

// What sysfs (mounted at `sysfs`) tells of the block device major:minor, or
// the disk it is a partition of: kVirtual where a hypervisor gives it (its
// driver virtio_blk, Xen's vbd, vmw_pvscsi, hv_storvsc on the way up),
// whatever it says of seeking; else kSpinning where it calls itself
// rotational. Device-mapper and md devices, and anything sysfs does not
// know (btrfs, overlay and network file systems have no block device of
// their own), are kOther.
DiskKind KindOfDisk(const std::string& sysfs, unsigned major, unsigned minor);

// The CPUs the cgroup CPU quota allows, rounded up, the smallest along the
// nesting; 0 where no quota is set. `cgroups` is /proc/self/cgroup's text,
// `root` where the hierarchies are mounted (v2 there, v1 in its cpu
// folders). Read directly: the input files refuse cgroupfs.
unsigned CgroupCpuLimit(const std::string& cgroups, const std::string& root);

}  // namespace platform::posix
