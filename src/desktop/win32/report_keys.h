#pragma once

#include <string_view>

#include "platform/win32/windows_include.h"

namespace desktop {
namespace win32 {

// Gives a control of a report box the keys a message box's controls answer
// that stock controls do not: Ctrl+A in the text selects the whole report
// (old edit controls lack it); Ctrl+C on the OK button sends WM_COPY to the
// box, which copies itself whole (inside the text, Ctrl+C copies the
// selection, as the edit control does).
void GiveCtrlKeys(HWND control);

// Puts a box on the clipboard in the block form MessageBoxW gives on Ctrl+C:
// the caption, the text and the button between dashed lines.
void CopyBoxText(HWND box, std::wstring_view caption, std::wstring_view text);

}  // namespace win32
}  // namespace desktop
