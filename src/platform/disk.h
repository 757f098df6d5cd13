#pragma once

namespace platform {

// Threads: may be called from any thread.

// Whether the current folder's disk seeks (a spinning disk), where reading
// several files at once would make it seek between them. A disk the
// platform cannot tell about counts as one that does not.
bool CurrentFolderSeeks();

// How many CPUs the process may run on at once: its affinity mask and, on
// Linux, its cgroup's CPU quota (the smallest along the nesting, rounded
// up). At least 1.
unsigned UsableProcessors();

}  // namespace platform
