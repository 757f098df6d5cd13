#include "pipeline/threads.h"

#include <algorithm>
#include <system_error>

namespace pipeline {

bool StartThread(std::function<void()> body, std::thread* thread) {
  try {
    *thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

unsigned FilesAtOnce(platform::DiskKind disk, unsigned cpus) {
  if (disk == platform::DiskKind::kSpinning) return 1;
  const bool deeper = disk == platform::DiskKind::kVirtual && cpus > 1;
  return std::clamp(deeper ? 2 * cpus : cpus, 1u, 8u);
}

Threads HashThreads() {
  const unsigned cpus = platform::UsableProcessors();
  Threads threads(FilesAtOnce(platform::CurrentFolderDisk(), cpus));
  threads.cpus = cpus;
  threads.read_ahead = cpus > 1;
  return threads;
}

}  // namespace pipeline
