#include "desktop/win32/report_box.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "common/out_of_memory.h"
#include "desktop/desktop.h"
#include "desktop/report_lines.h"
#include "desktop/win32/message_font.h"
#include "desktop/win32/report_keys.h"
#include "platform/win32/windows_include.h"

namespace desktop {
namespace win32 {
namespace {

constexpr int kEditId = 100;
constexpr int kIconId = 101;
const char16_t kCutBefore[] = u"表示しきれないため、以降の";
const char16_t kCutAfter[] = u"行を省略しました。";

struct Report {
  const common::WideString* text;
  const common::WideString* caption;
  std::uint32_t style;
  MessageFont font;       // the box's
  MessageFont text_font;  // the report's, with its every character
  std::u16string cut;     // what the text control shows, where not all
  bool sizing;            // while the user drags the box's border
};

Report* ReportOf(HWND box) {
  return reinterpret_cast<Report*>(::GetWindowLongPtrW(box, DWLP_USER));
}

void Layout(HWND box) {
  const Report* report = ReportOf(box);
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
  // The control wraps the whole text again at each change of its size: a
  // drag of the border changes it once, at its end.
  if (!report->sizing) {
    ::MoveWindow(::GetDlgItem(box, kEditId), text_x, margin,
                 std::max(0, Width(client) - text_x - margin),
                 std::max(0, Height(client) - 3 * margin - button_h), TRUE);
  }
  ::MoveWindow(::GetDlgItem(box, IDOK), Width(client) - margin - button_w,
               Height(client) - margin - button_h, button_w, button_h, TRUE);
}

const wchar_t* CaptionOf(const Report& report) {
  return report.caption->IsAbsent() ? L"Error"
                                    : platform::win32::W(*report.caption);
}

std::u16string CutNote(std::size_t lines) {
  std::u16string note(kCutBefore);
  for (const char digit : std::to_string(lines)) {
    note += static_cast<char16_t>(digit);
  }
  return note + kCutAfter;
}

// Puts the report in the edit control and returns what it holds. The control
// takes what its memory allows (262,144,000 characters were seen of a
// 641-million-character report): a report it cannot take whole is cut at a
// line, halving until the cut fits, and never silently: its last line says
// how many lines were left out.
std::u16string_view ShowWhatFits(HWND edit, const common::WideString& text,
                                 std::u16string* cut) {
  ::SetWindowTextW(edit, platform::win32::W(text));
  const auto taken = static_cast<std::size_t>(::GetWindowTextLengthW(edit));
  if (taken >= text.Length()) return text.View();
  for (std::size_t room = taken > 0 ? taken : text.Length() / 2;; room /= 2) {
    const bool made = common::RunOrOutOfMemory([&] {
      *cut =
          CutReport(text.View(), std::u16string_view(u"\r\n"), room, CutNote);
    });
    if (made) {
      ::SetWindowTextW(edit, reinterpret_cast<const wchar_t*>(cut->c_str()));
      if (static_cast<std::size_t>(::GetWindowTextLengthW(edit)) >=
          cut->size()) {
        return *cut;
      }
    }
    if (room == 0) return {};
  }
}

// The system's icon and sound for a box style's icon: error, warning, or
// information for any other.
LPCWSTR IconResourceOf(std::uint32_t style) {
  switch (IconOf(style)) {
    case MB_ICONERROR:
      return IDI_ERROR;
    case MB_ICONWARNING:
      return IDI_WARNING;
    default:
      return IDI_INFORMATION;
  }
}
UINT SoundOf(std::uint32_t style) {
  const std::uint32_t icon = IconOf(style);
  return icon == MB_ICONERROR || icon == MB_ICONWARNING ? icon
                                                        : MB_ICONINFORMATION;
}

// The box's controls: its icon, the text's hidden label, the text and OK,
// with their fonts and keys. The text's control; OK in *ok.
HWND CreateControls(HWND box, const Report& report, HWND* ok_out) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  HWND icon = ::CreateWindowExW(
      0, L"Static", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, 0, 0, 0, 0, box,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIconId)), instance,
      nullptr);
  ::SendMessageW(icon, STM_SETICON,
                 reinterpret_cast<WPARAM>(
                     ::LoadIconW(nullptr, IconResourceOf(report.style))),
                 0);
  // The text's name for screen readers: the caption, in a hidden label just
  // before it, where they look for one. The window keeps the caption too.
  ::CreateWindowExW(0, L"Static", CaptionOf(report),
                    WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, box, nullptr,
                    instance, nullptr);
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
  ::SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(report.font.Get()),
                 FALSE);
  ::SendMessageW(edit, WM_SETFONT,
                 reinterpret_cast<WPARAM>(report.text_font.Get()), FALSE);
  GiveCtrlKeys(edit);
  GiveCtrlKeys(ok);
  ::SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // no 32K limit
  ::SendMessageW(box, DM_SETDEFID, IDOK, 0);
  *ok_out = ok;
  return edit;
}

// Most of the work area, centred on the monitor the box is on.
void PlaceBox(HWND box, const Report& report) {
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
}

// Opened at the first failing line, selected and shown while the focus is
// on OK (ES_NOHIDESEL); at the top when all is OK.
void OpenAtFirstFailure(HWND edit, const Report& report,
                        std::u16string_view text) {
  std::size_t offset = 0, length = 0;
  if (FirstFailingRecord(text, std::u16string_view(u"\r\n"), &offset,
                         &length)) {
    // From its end back to its start: the caret, which the view follows,
    // rests at the line's start, so a line that wraps shows its name.
    ::SendMessageW(edit, EM_SETSEL, offset + length, offset);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
    // The caret's scroll leaves the line at the view's foot: a few lines
    // of what led to it go above, as GTK shows it, a fifth of the way down.
    int text_line = 0, text_average = 0;
    FontMetrics(report.text_font.Get(), &text_line, &text_average);
    RECT view = {};
    ::SendMessageW(edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&view));
    const LRESULT above = text_line > 0 ? Height(view) / text_line / 5 : 0;
    const LRESULT failing =
        ::SendMessageW(edit, EM_LINEFROMCHAR, static_cast<WPARAM>(offset), 0);
    const LRESULT top = ::SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    ::SendMessageW(edit, EM_LINESCROLL, 0,
                   std::max<LRESULT>(failing - above, 0) - top);
  } else {
    ::SendMessageW(edit, EM_SETSEL, 0, 0);
  }
}

void OpenBox(HWND box, Report& report) {
  ::SetWindowLongPtrW(box, DWLP_USER, reinterpret_cast<LONG_PTR>(&report));
  ::SetWindowTextW(box, CaptionOf(report));
  HWND ok = nullptr;
  HWND edit = CreateControls(box, report, &ok);
  PlaceBox(box, report);
  Layout(box);
  // The text goes in once the control has its size: the control wraps the
  // whole text at each change of width, and a report may be a million lines.
  const std::u16string_view text =
      ShowWhatFits(edit, *report.text, &report.cut);
  OpenAtFirstFailure(edit, report, text);
  // The focus on OK, as in a message box: Enter and Space close it.
  ::SetFocus(ok);
}

// The program's own texts in a report: the caption, and each line's
// result after the last " - " (names come before it).
std::u16string OwnTexts(std::u16string_view text, std::u16string_view caption) {
  std::u16string own(caption);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(u"\r\n", start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view line = text.substr(start, end - start);
    const std::size_t dash = line.rfind(u" - ");
    if (dash != std::u16string_view::npos) own += line.substr(dash + 3);
    // A few hundred distinct characters are looked at: the results repeat.
    if (own.size() > 4096) break;
    start = end + 2;
  }
  return own;
}

INT_PTR CALLBACK ReportProc(HWND box, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OpenBox(box, *reinterpret_cast<Report*>(lparam));
      return FALSE;  // the focus is set
    case WM_SIZE:
      Layout(box);
      return TRUE;
    case WM_ENTERSIZEMOVE:
    case WM_EXITSIZEMOVE:
      ReportOf(box)->sizing = message == WM_ENTERSIZEMOVE;
      Layout(box);
      return TRUE;
    case WM_COPY: {  // Ctrl+C on OK
      const Report* report = ReportOf(box);
      CopyBoxText(box, CaptionOf(*report),
                  std::wstring_view(platform::win32::W(*report->text),
                                    report->text->Length()));
      return TRUE;
    }
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

int ShowReportBox(const common::WideString& text,
                  const common::WideString& caption, std::uint32_t style) {
  // An empty template: the controls are made when the box opens.
  struct alignas(4) Template {
    DLGTEMPLATE dialog;
    WORD menu, window_class, title;
  } empty = {};
  empty.dialog.style =
      WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_SETFOREGROUND;
  ::MessageBeep(SoundOf(style));
  Report report{&text, &caption, style, {}, {}, {}, false};
  report.text_font.Cover(text.View(), OwnTexts(text.View(), caption.View()));
  ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &empty.dialog, nullptr,
                            ReportProc, reinterpret_cast<LPARAM>(&report));
  return IDOK;
}

}  // namespace win32
}  // namespace desktop
