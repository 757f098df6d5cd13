#pragma once

namespace platform {

// Threads: may be called from any thread.

// What the current folder's disk is, as far as reading several files at
// once goes.
enum class DiskKind {
  kOther,     // solid-state, or one the platform cannot tell about
  kSpinning,  // it seeks: several files at once would make it seek between
  kVirtual,   // a hypervisor's: reads queued deeper come back sooner, and
              // whether it says it seeks tells nothing of what stands behind
};
DiskKind CurrentFolderDisk();

// How many CPUs the process may run on at once: its affinity mask and, on
// Linux, its cgroup's CPU quota (the smallest along the nesting, rounded
// up). At least 1.
unsigned UsableProcessors();

}  // namespace platform
