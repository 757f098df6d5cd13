#include "desktop/posix/keyboard_desktop.h"

namespace desktop {
namespace posix {

bool KeyboardDesktop::IsKeyDown(int virtual_key) {
  if (virtual_key == VK_SHIFT) return keys_->IsDown(Modifier::kShift);
  if (virtual_key == VK_CONTROL) return keys_->IsDown(Modifier::kControl);
  return false;
}

}  // namespace posix
}  // namespace desktop
