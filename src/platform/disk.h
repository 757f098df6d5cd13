#pragma once

namespace platform {

// Whether the current folder's disk seeks (a spinning disk), where reading
// several files at once would make it seek between them. A disk the
// platform cannot tell about counts as one that does not.
bool CurrentFolderSeeks();

}  // namespace platform
