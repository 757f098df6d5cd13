#include "hash/hash_workers.h"

#include <algorithm>
#include <thread>

#include "platform/disk.h"

unsigned HashWorkers() {
  if (platform::CurrentFolderSeeks()) return 1;
  return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}
