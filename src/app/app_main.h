#pragma once

#include "desktop/desktop.h"

namespace app {

// WinMain's logic, which both process entries call (WinMain on Windows, main
// on Linux): acquires the provider, reads SHIFT and CTRL once, asks before
// creating, runs creation or verification and returns the exit code (1 when
// no provider could be had, else 0).
int AppMain(desktop::Desktop& desktop);

}  // namespace app
