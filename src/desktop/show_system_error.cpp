#include "desktop/show_system_error.h"

#include "platform/system_error.h"

void ShowSystemError(platform::Desktop& desktop, platform::ErrorCode code) {
  WideString text;
  if (!platform::SystemErrorText(code, &text)) return;
  desktop.ShowMessageBox(text, WideString::Absent(), MB_ICONERROR);
}

void ShowSystemError(platform::Desktop& desktop, platform::ErrorCode code,
                     const WideString& name) {
  WideString text;
  if (!platform::SystemErrorText(code, &text)) return;
  WideString named(name.View());
  named.Append(u" - ");
  named.Append(text.View());
  desktop.ShowMessageBox(named, WideString::Absent(), MB_ICONERROR);
}
