#pragma once

namespace desktop {
namespace posix {

// Loads one of the program's modules (the GTK dialogs, the Wayland key
// probe) from the folder compiled into the program, never from beside it or
// from the current directory, where someone else's folder could plant one.
// Null when it is not there or does not load. It stays loaded: GTK cannot
// be unloaded once initialised.
void* LoadModule(const char* file);

}  // namespace posix
}  // namespace desktop
