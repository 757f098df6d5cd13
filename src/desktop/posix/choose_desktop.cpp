#include "desktop/posix/choose_desktop.h"

#include <unistd.h>

#include <cstdlib>

#include "desktop/posix/gtk_desktop.h"
#include "desktop/posix/key_state.h"
#include "desktop/posix/terminal_desktop.h"

namespace desktop {
namespace posix {
namespace {

bool HasControllingTerminal() {
  const int tty = OpenTerminal();
  if (tty < 0) return false;
  ::close(tty);
  return true;
}

}  // namespace

std::unique_ptr<Desktop> ChooseDesktop() {
  auto dialogs = std::make_unique<GtkDesktop>();
  // Before GTK starts, which takes longer than the probe itself.
  dialogs->Keys().ProbeWayland();
  if (!HasControllingTerminal() &&
      (std::getenv("WAYLAND_DISPLAY") != nullptr ||
       std::getenv("DISPLAY") != nullptr) &&
      dialogs->Open()) {
    return dialogs;
  }
  auto terminal = std::make_unique<TerminalDesktop>();
  terminal->AdoptKeys(*dialogs);
  return terminal;
}

}  // namespace posix
}  // namespace desktop
