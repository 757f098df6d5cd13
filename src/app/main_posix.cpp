#include <clocale>

#include "app/app_main.h"
#include "desktop/posix/choose_desktop.h"

// The command line is accepted and ignored.
int main() {
  std::setlocale(LC_ALL, "");  // the locale's charset stands for the code pages
  const auto desktop = desktop::posix::ChooseDesktop();
  return app::AppMain(*desktop);
}
