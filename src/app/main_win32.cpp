#include "app/app_main.h"
#include "desktop/win32/win32_desktop.h"
#include "platform/win32/windows_include.h"

// None of the four arguments is read: the program has no command line. The
// start-up code ends the process with the value returned.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::win32::Win32Desktop desktop;
  return AppMain(desktop);
}
