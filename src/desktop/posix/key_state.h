#pragma once

namespace platform {
namespace posix {

enum class Modifier { kShift, kControl };

// Whether either key of a modifier is down: in a Wayland session, as a
// focus probe found them at start (ProbeWaylandKeys); else from the X
// server's keymap when a display is reachable, else from the readable evdev
// keyboards, else not held. One connection to the X server serves every
// query.
class KeyState {
 public:
  KeyState() = default;
  ~KeyState();
  KeyState(const KeyState&) = delete;
  KeyState& operator=(const KeyState&) = delete;

  bool IsDown(Modifier modifier);

 private:
  void* display_ = nullptr;  // Display*, kept out of this header
  bool display_tried_ = false;
};

// In a Wayland session (WAYLAND_DISPLAY set), maps a surface that shows
// nothing for the moment it takes to gain the keyboard focus (300 ms at
// most) and keeps the modifiers held then, for every KeyState of the run.
// Called as early as can be: the user holds the keys from the start until
// the focus comes. No focus, or no probe module: no key counts as held.
// Does nothing outside a Wayland session, and after its first call.
void ProbeWaylandKeys();

}  // namespace posix
}  // namespace platform
