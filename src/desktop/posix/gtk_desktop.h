#pragma once

#include "desktop/gtk/dialog_module.h"
#include "desktop/posix/keyboard_desktop.h"

namespace desktop {
namespace posix {

// Boxes as GTK dialogs, through a module loaded at run time so that the
// program runs where GTK is not installed.
class GtkDesktop : public KeyboardDesktop {
 public:
  GtkDesktop() = default;
  ~GtkDesktop() override;
  GtkDesktop(const GtkDesktop&) = delete;
  GtkDesktop& operator=(const GtkDesktop&) = delete;

  // Loads the module from the folder compiled into the program and opens
  // the graphical session. False when either
  // fails; nothing is then held.
  bool Open();

  int ShowMessageBox(const common::WideString& text,
                     const common::WideString& caption,
                     std::uint32_t style) override;
  void ShowProgress(const common::WideString& title,
                    ProgressFeed& feed) override;
  // Ctrl+C at the controlling terminal, where there is one.
  std::unique_ptr<RunWatch> WatchRun(
      const std::function<void()>& cancel) override;

 private:
  void Close();

  void* module_ = nullptr;
  DialogsShow show_ = nullptr;
  DialogsProgress progress_ = nullptr;  // null in a module without one
};

}  // namespace posix
}  // namespace desktop
