#pragma once

#include <new>

namespace common {

// Runs `body` and tells whether it ran to its end: false where an
// allocation in it failed. A std::bad_alloc that left a thread's entry would
// end the process (std::terminate), so every thread's entry runs its work
// through this and hands the failure to the desktop's thread, which shows
// it and ends the run.
template <typename Body>
bool RunOrOutOfMemory(Body&& body) {
  try {
    body();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace common
