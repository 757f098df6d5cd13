#pragma once

#include <functional>
#include <memory>

#include "desktop/desktop.h"

namespace desktop {
namespace posix {

// Ctrl+C at the controlling terminal while a run lasts: the SIGINT handler
// only writes a byte to a pipe, which a thread of the watch's own reads;
// there the first interrupt calls `cancel`, once. The handler is installed
// for one signal (the kernel puts the default action back as it runs), so
// a second Ctrl+C ends the program as the signal does. Null, and SIGINT
// left as it is, where there is no terminal, where the program was started
// with SIGINT ignored, or where no pipe or thread can be had. Threads: made
// and ended on the desktop's thread; `cancel` runs on the watch's.
std::unique_ptr<RunWatch> WatchInterrupt(std::function<void()> cancel);

}  // namespace posix
}  // namespace desktop
