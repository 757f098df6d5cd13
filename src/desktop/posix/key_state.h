#pragma once

namespace desktop {
namespace posix {

enum class Modifier { kShift, kControl };

// Whether either key of a modifier is down: in a Wayland session, as a
// focus probe found them at start (ProbeWayland); else from the X server's
// keymap when a display is reachable, else from the readable evdev
// keyboards, else not held. One connection to the X server serves every
// query. Lives for the run, in its desktop.
// Threads: the thread that shows the boxes only.
class KeyState {
 public:
  KeyState() = default;
  ~KeyState();
  KeyState(const KeyState&) = delete;
  KeyState& operator=(const KeyState&) = delete;

  bool IsDown(Modifier modifier);

  // In a Wayland session (WAYLAND_DISPLAY set), maps a surface that shows
  // nothing for the moment it takes to gain the keyboard focus (300 ms at
  // most) and keeps the modifiers held then. Called as early as can be: the
  // user holds the keys from the start until the focus comes. No focus, or
  // no probe module: no key counts as held. Does nothing outside a Wayland
  // session, and after its first call.
  void ProbeWayland();

  struct X11;  // libX11's entry points, loaded only where a display is named

 private:
  bool LoadX11();

  void* display_ = nullptr;  // Display*, kept out of this header
  bool display_tried_ = false;
  X11* x11_ = nullptr;
  bool wayland_probed_ = false;
  bool wayland_shift_ = false;
  bool wayland_ctrl_ = false;
};

}  // namespace posix
}  // namespace desktop
