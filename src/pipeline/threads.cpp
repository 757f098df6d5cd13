#include "pipeline/threads.h"

#include <algorithm>
#include <system_error>

#include "platform/disk.h"

namespace pipeline {

bool StartThread(std::function<void()> body, std::thread* thread) {
  try {
    *thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

Threads HashThreads() {
  const unsigned cpus = platform::UsableProcessors();
  Threads threads(platform::CurrentFolderSeeks() ? 1
                                                 : std::clamp(cpus, 1u, 8u));
  threads.read_ahead = cpus > 1;
  return threads;
}

}  // namespace pipeline
