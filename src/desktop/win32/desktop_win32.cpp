#include <string_view>

#include "common/visible_text.h"
#include "desktop/win32/report_box.h"
#include "desktop/win32/win32_desktop.h"
#include "platform/win32/windows_include.h"

namespace desktop {
namespace win32 {

bool Win32Desktop::IsKeyDown(int virtual_key) {
  // Bit 15: down now. Bit 0 (pressed since an earlier query) is ignored.
  return (::GetAsyncKeyState(virtual_key) & 0x8000) != 0;
}

int Win32Desktop::ShowMessageBox(const common::WideString& text,
                                 const common::WideString& caption,
                                 std::uint32_t style) {
  // Names shown inert: a bidirectional control or an invisible character
  // must not make one name pass for another. A text with nothing to escape,
  // as most reports are, is shown as it is, not copied.
  common::WideString escaped;
  if (common::FirstShownOtherwise(text.View(), common::LineEnds::kCrLf,
                                  common::EscapeForm::kAngle) !=
      std::u16string_view::npos) {
    escaped = common::WideString(common::VisibleText(
        text.View(), common::LineEnds::kCrLf, common::EscapeForm::kAngle));
  }
  const common::WideString& shown = escaped.IsAbsent() ? text : escaped;
  const common::WideString title =
      caption.IsAbsent() ? caption
                         : common::WideString(common::VisibleText(
                               caption.View(), common::LineEnds::kEscaped,
                               common::EscapeForm::kAngle));
  // A report of thousands of lines would make a box taller than the
  // screen, its OK button and failing lines out of reach.
  if (!IsYesNo(style) && !FitsMessageBox(shown)) {
    return ShowReportBox(shown, title, style);
  }
  return ::MessageBoxW(nullptr, platform::win32::W(shown),
                       title.IsAbsent() ? nullptr : platform::win32::W(title),
                       style);
}

}  // namespace win32
}  // namespace desktop
