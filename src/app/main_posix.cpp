#include <clocale>

#include "app/app_main.h"
#include "platform/posix/terminal_desktop.h"

// The command line is accepted and ignored.
int main() {
  std::setlocale(LC_ALL, "");  // the locale's charset stands for the code pages
  platform::posix::TerminalDesktop desktop;
  return AppMain(desktop);
}
