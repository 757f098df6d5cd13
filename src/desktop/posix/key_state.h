#pragma once

namespace platform {
namespace posix {

enum class Modifier { kShift, kControl };

// Whether either key of a modifier is down now: from the X server's keymap
// when a display is reachable, else from the readable evdev keyboards, else
// not held. One connection to the X server serves every query.
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

}  // namespace posix
}  // namespace platform
