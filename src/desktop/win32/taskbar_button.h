#pragma once

#include "desktop/desktop.h"
#include "platform/win32/windows_include.h"

struct ITaskbarList3;  // <shobjidl.h>, for the .cpp alone

namespace desktop {
namespace win32 {

// A window's taskbar button as a progress window shows on it, as Explorer's
// copy dialog does. An interface, so that a suite can see what Wine's stub
// would drop. Threads: the window's thread only.
class TaskbarButton {
 public:
  virtual ~TaskbarButton() = default;
  // The share done, out of 100, on `window`'s button.
  virtual void Show(HWND window, unsigned percent) = 0;
  // No progress on the button any more.
  virtual void Clear(HWND window) = 0;
};

// The shell's ITaskbarList3, where it has one; otherwise it shows nothing.
// Owns the interface and this thread's COM for its own life.
class ShellTaskbar : public TaskbarButton {
 public:
  ShellTaskbar();
  ~ShellTaskbar() override;
  ShellTaskbar(const ShellTaskbar&) = delete;
  ShellTaskbar& operator=(const ShellTaskbar&) = delete;
  void Show(HWND window, unsigned percent) override;
  void Clear(HWND window) override;

 private:
  ::ITaskbarList3* list_ = nullptr;
  bool com_ = false;
};

// The progress window, a dialog of the program's own, its progress on
// `taskbar` too. Its template is a resource of every program that links it.
void ShowProgressDialog(const common::WideString& title, ProgressFeed& feed,
                        TaskbarButton& taskbar);

}  // namespace win32
}  // namespace desktop
