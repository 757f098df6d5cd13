#pragma once

#include "desktop/desktop.h"

namespace desktop {
namespace win32 {

// GetAsyncKeyState and MessageBoxW, or a box of the program's own for a
// report too long for it; progress in a dialog of its own.
class Win32Desktop : public Desktop {
 public:
  bool IsKeyDown(int virtual_key) override;
  int ShowMessageBox(const common::WideString& text,
                     const common::WideString& caption,
                     std::uint32_t style) override;
  void ShowProgress(const common::WideString& title,
                    ProgressFeed& feed) override;
};

}  // namespace win32
}  // namespace desktop
