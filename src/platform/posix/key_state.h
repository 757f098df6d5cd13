#pragma once

namespace platform {
namespace posix {

enum class Modifier { kShift, kControl };

// Whether either key of the modifier is down now: from the X server's
// keymap when a display is reachable, else from the readable evdev
// keyboards, else not held.
bool IsModifierDown(Modifier modifier);

}  // namespace posix
}  // namespace platform
