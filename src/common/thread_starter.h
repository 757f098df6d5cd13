#pragma once

#include <functional>
#include <thread>

namespace common {

// Starts `body` on *thread; false where no thread could be started (no
// memory for its stack, a limit on processes). Whatever starts threads
// takes one, so that suites can give one that fails.
using ThreadStarter =
    std::function<bool(std::function<void()> body, std::thread* thread)>;

}  // namespace common
