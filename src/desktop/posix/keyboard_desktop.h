#pragma once

#include "desktop/desktop.h"
#include "desktop/posix/key_state.h"

namespace platform {
namespace posix {

// SHIFT and CTRL from the X keymap or the evdev keyboards, whichever kind of
// box the desktop shows.
class KeyboardDesktop : public Desktop {
 public:
  bool IsKeyDown(int virtual_key) override;

 private:
  KeyState keys_;
};

}  // namespace posix
}  // namespace platform
