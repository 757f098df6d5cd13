#include "desktop/show_system_error.h"

#include "platform/system_error.h"

namespace desktop {

void ShowSystemError(desktop::Desktop& desktop, platform::ErrorCode code) {
  common::WideString text;
  if (!platform::SystemErrorText(code, &text)) return;
  desktop.ShowMessageBox(text, common::WideString::Absent(), MB_ICONERROR);
}

void ShowSystemError(desktop::Desktop& desktop, platform::ErrorCode code,
                     const common::WideString& name) {
  common::WideString text;
  if (!platform::SystemErrorText(code, &text)) return;
  common::WideString named(name.View());
  named.Append(u" - ");
  named.Append(text.View());
  desktop.ShowMessageBox(named, common::WideString::Absent(), MB_ICONERROR);
}

}  // namespace desktop
