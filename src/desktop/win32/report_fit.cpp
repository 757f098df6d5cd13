#include <string_view>

#include "desktop/win32/message_font.h"
#include "desktop/win32/report_box.h"
#include "platform/win32/windows_include.h"

namespace desktop {
namespace win32 {
namespace {

// Where a line may break: at blanks, and between the ideographs, kana and
// fullwidth forms of Japanese text, which runs without spaces.
bool BreaksLine(char16_t unit) {
  return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n' ||
         (unit >= 0x3000 && unit <= 0x9FFF) ||
         (unit >= 0xFF00 && unit <= 0xFFEF);
}

// Whether some run of the text without a place to break (a long name) is
// wider than `width`: a message box would cut it at the screen's edge.
bool HasRunWiderThan(HDC screen, std::u16string_view text, int width) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !BreaksLine(text[i])) continue;
    // A run too short to reach the width is not measured.
    if (i - start > 8) {
      SIZE size = {};
      const std::u16string_view run = text.substr(start, i - start);
      ::GetTextExtentPoint32W(screen,
                              reinterpret_cast<const wchar_t*>(run.data()),
                              static_cast<int>(run.size()), &size);
      if (size.cx > width) return true;
    }
    start = i + 1;
  }
  return false;
}

}  // namespace

bool FitsMessageBox(const common::WideString& text) {
  const RECT area = PrimaryWorkArea();
  const MessageFont font;
  int line = 0, average = 0;
  FontMetrics(font.Get(), &line, &average);
  // Above the text: the caption and the frame; below: the button and the
  // margins around it.
  const int room = Height(area) - ::GetSystemMetrics(SM_CYCAPTION) -
                   2 * ::GetSystemMetrics(SM_CYFIXEDFRAME) - 5 * line;
  // Each line of the text is one line high at least: a long report is told
  // without laying it out.
  const std::u16string_view view = text.View();
  const auto lines =
      static_cast<std::size_t>(std::count(view.begin(), view.end(), u'\n')) + 1;
  if (room <= 0 || lines > static_cast<std::size_t>(room / line)) return false;
  // The widest a message box grows, less its icon and margins.
  RECT laid = {
      0, 0, Width(area) * 5 / 8 - ::GetSystemMetrics(SM_CXICON) - 3 * line, 0};
  const int width = Width(laid);
  HDC screen = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(screen, font.Get());
  const bool cut = HasRunWiderThan(screen, view, width);
  if (!cut) {
    ::DrawTextW(screen, platform::win32::W(text), static_cast<int>(view.size()),
                &laid,
                DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  }
  ::SelectObject(screen, old);
  ::ReleaseDC(nullptr, screen);
  return !cut && Height(laid) <= room;
}

}  // namespace win32
}  // namespace desktop
