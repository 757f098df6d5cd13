#pragma once

#include <string>

namespace platform::posix {

// Whether sysfs (mounted at `sysfs`) calls the block device major:minor, or
// the disk it is a partition of, rotational. Device-mapper and md devices,
// and anything sysfs does not know (btrfs, overlay and network file systems
// have no block device of their own), count as unknown: false.
bool IsRotational(const std::string& sysfs, unsigned major, unsigned minor);

}  // namespace platform::posix
