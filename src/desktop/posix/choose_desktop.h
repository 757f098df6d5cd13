#pragma once

#include <memory>

#include "desktop/desktop.h"

namespace desktop {
namespace posix {

// Chosen once, before the first box: the terminal's boxes where the program
// has a controlling terminal; else GTK dialogs where a graphical session is
// reachable and the dialog module loads; else boxes on standard error.
std::unique_ptr<Desktop> ChooseDesktop();

}  // namespace posix
}  // namespace desktop
