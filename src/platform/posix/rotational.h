#pragma once

#include <string>

namespace platform::posix {

// Whether sysfs (mounted at `sysfs`) calls the block device major:minor, or
// the disk it is a partition of, rotational. Device-mapper and md devices,
// and anything sysfs does not know (btrfs, overlay and network file systems
// have no block device of their own), count as unknown: false. So does a
// disk a hypervisor gives (its driver virtio_blk, Xen's vbd, vmw_pvscsi,
// hv_storvsc on the way up), which says it seeks whatever stands behind.
bool IsRotational(const std::string& sysfs, unsigned major, unsigned minor);

// The CPUs the cgroup CPU quota allows, rounded up, the smallest along the
// nesting; 0 where no quota is set. `cgroups` is /proc/self/cgroup's text,
// `root` where the hierarchies are mounted (v2 there, v1 in its cpu
// folders). Read directly: the input files refuse cgroupfs.
unsigned CgroupCpuLimit(const std::string& cgroups, const std::string& root);

}  // namespace platform::posix
