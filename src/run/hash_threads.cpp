#include "run/hash_threads.h"

#include <algorithm>

namespace run {

unsigned FilesAtOnce(platform::DiskKind disk, unsigned cpus) {
  if (disk == platform::DiskKind::kSpinning) return 1;
  const bool deeper = disk == platform::DiskKind::kVirtual && cpus > 1;
  return std::clamp(deeper ? 2 * cpus : cpus, 1u, 8u);
}

pipeline::Threads HashThreads() {
  const unsigned cpus = platform::UsableProcessors();
  pipeline::Threads threads(FilesAtOnce(platform::CurrentFolderDisk(), cpus));
  threads.cpus = cpus;
  threads.read_ahead = cpus > 1;
  return threads;
}

}  // namespace run
