#include "desktop/win32/report_box.h"

#include <algorithm>
#include <string_view>

#include "desktop/desktop.h"
#include "desktop/report_lines.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace win32 {
namespace {

constexpr int kEditId = 100;
constexpr int kIconId = 101;

// The font message boxes use, owned for the time of one box.
class MessageFont {
 public:
  MessageFont() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics,
                                &metrics, 0)) {
      font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
    }
  }
  ~MessageFont() {
    if (font_ != nullptr) ::DeleteObject(font_);
  }
  MessageFont(const MessageFont&) = delete;
  MessageFont& operator=(const MessageFont&) = delete;
  HFONT Get() const {
    return font_ != nullptr
               ? font_
               : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  }

 private:
  HFONT font_ = nullptr;
};

RECT WorkAreaOf(HMONITOR monitor) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (!::GetMonitorInfoW(monitor, &info)) {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &info.rcWork, 0);
  }
  return info.rcWork;
}

RECT PrimaryWorkArea() {
  return WorkAreaOf(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// The height of one line of the message font and its average character
// width, on the screen.
void FontMetrics(HFONT font, int* line, int* average) {
  HDC screen = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(screen, font);
  TEXTMETRICW metrics = {};
  ::GetTextMetricsW(screen, &metrics);
  ::SelectObject(screen, old);
  ::ReleaseDC(nullptr, screen);
  *line = metrics.tmHeight + metrics.tmExternalLeading;
  *average = std::max<int>(1, metrics.tmAveCharWidth);
}

struct Report {
  const WideString* text;
  const WideString* caption;
  std::uint32_t style;
  MessageFont font;
};

void Layout(HWND box) {
  const auto* report =
      reinterpret_cast<const Report*>(::GetWindowLongPtrW(box, DWLP_USER));
  int line = 0, average = 0;
  FontMetrics(report->font.Get(), &line, &average);
  RECT client;
  ::GetClientRect(box, &client);
  const int margin = line;
  const int icon = ::GetSystemMetrics(SM_CXICON);
  // A push button of 75 x 14 dialog units, as MessageBoxW's.
  const int button_w = ::MulDiv(75, average, 4);
  const int button_h = ::MulDiv(14, line, 8);
  const int text_x = margin + icon + margin;
  ::MoveWindow(::GetDlgItem(box, kIconId), margin, margin, icon, icon, TRUE);
  ::MoveWindow(::GetDlgItem(box, kEditId), text_x, margin,
               std::max(0, Width(client) - text_x - margin),
               std::max(0, Height(client) - 3 * margin - button_h), TRUE);
  ::MoveWindow(::GetDlgItem(box, IDOK), Width(client) - margin - button_w,
               Height(client) - margin - button_h, button_w, button_h, TRUE);
}

// Ctrl+A selects the whole report in every edit control, old ones too.
LRESULT CALLBACK EditWithSelectAll(HWND edit, UINT message, WPARAM wparam,
                                   LPARAM lparam) {
  const auto original =
      reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(edit, GWLP_USERDATA));
  const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
  if (message == WM_KEYDOWN && wparam == 'A' && ctrl) {
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    return 0;
  }
  if (message == WM_CHAR && wparam == 1) return 0;  // Ctrl+A's character
  return ::CallWindowProcW(original, edit, message, wparam, lparam);
}

void OpenBox(HWND box, const Report& report) {
  ::SetWindowLongPtrW(box, DWLP_USER, reinterpret_cast<LONG_PTR>(&report));
  ::SetWindowTextW(box,
                   report.caption->IsAbsent() ? L"Error" : W(*report.caption));
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const bool error = platform::IconOf(report.style) == MB_ICONERROR;
  HWND icon = ::CreateWindowExW(
      0, L"Static", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, 0, 0, 0, 0, box,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIconId)), instance,
      nullptr);
  ::SendMessageW(icon, STM_SETICON,
                 reinterpret_cast<WPARAM>(
                     ::LoadIconW(nullptr, error ? IDI_ERROR : IDI_INFORMATION)),
                 0);
  HWND edit = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, L"Edit", nullptr,
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
          ES_READONLY | ES_NOHIDESEL,
      0, 0, 0, 0, box, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)),
      instance, nullptr);
  HWND ok = ::CreateWindowExW(
      0, L"Button", L"OK",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 0, 0, 0,
      0, box, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance,
      nullptr);
  for (HWND child : {edit, ok}) {
    ::SendMessageW(child, WM_SETFONT,
                   reinterpret_cast<WPARAM>(report.font.Get()), FALSE);
  }
  ::SetWindowLongPtrW(
      edit, GWLP_USERDATA,
      ::SetWindowLongPtrW(edit, GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(EditWithSelectAll)));
  ::SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // no 32K limit
  ::SetWindowTextW(edit, W(*report.text));
  ::SendMessageW(box, DM_SETDEFID, IDOK, 0);

  // Most of the work area, centred on the monitor the box is on.
  const RECT area =
      WorkAreaOf(::MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY));
  int line = 0, average = 0;
  FontMetrics(report.font.Get(), &line, &average);
  const int width =
      std::min(Width(area) * 3 / 4, std::max(Width(area) / 2, 90 * average));
  const int height = Height(area) * 3 / 4;
  ::SetWindowPos(box, nullptr, area.left + (Width(area) - width) / 2,
                 area.top + (Height(area) - height) / 2, width, height,
                 SWP_NOZORDER);
  Layout(box);

  // Opened at the first failing line, selected; at the top when all is OK.
  const std::u16string_view text = report.text->View();
  std::size_t offset = 0, length = 0;
  if (FirstFailingRecord(text, std::u16string_view(u"\r\n"), &offset,
                         &length)) {
    ::SendMessageW(edit, EM_SETSEL, offset, offset + length);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
  } else {
    ::SendMessageW(edit, EM_SETSEL, 0, 0);
  }
  ::SetFocus(edit);
}

INT_PTR CALLBACK ReportProc(HWND box, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OpenBox(box, *reinterpret_cast<const Report*>(lparam));
      return FALSE;  // the focus is set
    case WM_SIZE:
      Layout(box);
      return TRUE;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      const RECT area =
          WorkAreaOf(::MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY));
      limits->ptMinTrackSize = {Width(area) / 4, Height(area) / 4};
      limits->ptMaxTrackSize = {Width(area), Height(area)};
      return TRUE;
    }
    case WM_DPICHANGED: {  // per-monitor aware: take the size Windows offers
      const auto* offered = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(box, nullptr, offered->left, offered->top, Width(*offered),
                     Height(*offered), SWP_NOZORDER);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        ::EndDialog(box, IDOK);  // Enter, Escape, OK, the close box
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool FitsMessageBox(const WideString& text) {
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
  HDC screen = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(screen, font.Get());
  ::DrawTextW(screen, W(text), static_cast<int>(view.size()), &laid,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  ::SelectObject(screen, old);
  ::ReleaseDC(nullptr, screen);
  return Height(laid) <= room;
}

int ShowReportBox(const WideString& text, const WideString& caption,
                  std::uint32_t style) {
  // An empty template: the controls are made when the box opens.
  struct alignas(4) Template {
    DLGTEMPLATE dialog;
    WORD menu, window_class, title;
  } empty = {};
  empty.dialog.style =
      WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_SETFOREGROUND;
  ::MessageBeep(platform::IconOf(style) == MB_ICONERROR ? MB_ICONERROR
                                                        : MB_ICONINFORMATION);
  const Report report{&text, &caption, style, {}};
  ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &empty.dialog, nullptr,
                            ReportProc, reinterpret_cast<LPARAM>(&report));
  return IDOK;
}

}  // namespace win32
}  // namespace platform
