#include <cstdlib>

#include "app/app_main.h"
#include "desktop/win32/win32_desktop.h"
#include "platform/win32/looked_up.h"
#include "platform/win32/windows_include.h"

namespace {

// A DLL loaded after start-up (comctl32's own, such as uxtheme, and what
// LoadLibraryW brings) is looked for in System32 only, never in the
// program's folder, which for a download is Downloads, where anything may
// have been saved beside it. comctl32 6 still comes from the manifest's
// side-by-side assembly, which goes before any search. Looked up, not
// imported: a Windows 7 without KB2533623 lacks it, and there the current
// folder at least leaves the search.
void LoadDllsFromSystem32Only() {
  const auto set_directories = DIGESTBOX_LOOKED_UP(
      ::GetModuleHandleW(L"kernel32.dll"), SetDefaultDllDirectories);
  if (set_directories == nullptr ||
      !set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    ::SetDllDirectoryW(L"");
  }
}

}  // namespace

// libstdc++'s default handler of an uncaught exception writes its type,
// demangled, to a standard error this program, which has no console, never
// shows; its demangler alone is 42 KB of the program. Either way the
// process ends as abort() ends it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// None of the four arguments is read: the program has no command line. The
// start-up code ends the process with the value returned.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LoadDllsFromSystem32Only();
  desktop::win32::Win32Desktop desktop;
  return app::AppMain(desktop);
}
