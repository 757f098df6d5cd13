#pragma once

#include "desktop/desktop.h"

// WinMain's logic, which both process entries call (WinMain on Windows, main
// on Linux): acquires the provider, reads SHIFT and CTRL once, asks before
// creating, runs creation or verification and returns the exit code (1 when
// no provider could be had, else 0).
int AppMain(platform::Desktop& desktop);
