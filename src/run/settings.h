#pragma once

#include <optional>

#include "pipeline/threads.h"
#include "progress/clock.h"

namespace run {

// How a creation or verification run goes; the defaults are the program's.
struct Settings {
  // The threads that hash; where absent, one per CPU (HashThreads).
  std::optional<pipeline::Threads> threads;
  // Where the run's times come from; the steady clock where null.
  progress::Clock* clock = nullptr;
};

}  // namespace run
