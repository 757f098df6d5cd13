#pragma once

#include <memory>

#include "desktop/desktop.h"
#include "desktop/posix/key_state.h"

namespace desktop {
namespace posix {

// SHIFT and CTRL from the X keymap or the evdev keyboards, whichever kind of
// box the desktop shows.
class KeyboardDesktop : public Desktop {
 public:
  bool IsKeyDown(int virtual_key) override;

  KeyState& Keys() { return *keys_; }
  // Takes the keys another desktop read (one that could not open).
  void AdoptKeys(KeyboardDesktop& from) { keys_ = std::move(from.keys_); }

 private:
  std::unique_ptr<KeyState> keys_ = std::make_unique<KeyState>();
};

}  // namespace posix
}  // namespace desktop
