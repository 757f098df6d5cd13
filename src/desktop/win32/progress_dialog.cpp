// A long run's progress in a dialog of the program's own
// (res/windows/progress_dialog.rc): neither Return nor Space cancels it.
#include <cstdint>
#include <string>

#include "common/unicode.h"
#include "common/visible_text.h"
#include "desktop/win32/message_font.h"
#include "desktop/win32/progress_ids.h"
#include "desktop/win32/taskbar_button.h"
#include "desktop/win32/win32_desktop.h"
#include "platform/win32/looked_up.h"
#include "platform/win32/windows_include.h"
#include "progress/progress_texts.h"
// After <windows.h>, which it builds on.
#include <commctrl.h>
#include <shlwapi.h>

namespace desktop {
namespace win32 {
namespace {

constexpr UINT_PTR kTimer = 1;
constexpr UINT kRefreshMs = 200;

struct Shown {
  ProgressFeed* feed = nullptr;
  TaskbarButton* taskbar = nullptr;
  bool ended = false;  // the run ended the window, not the user
  common::WideString caption;
  MessageFont font;                       // the controls'
  int name_width = 0;                     // pixels a name may take on its line
  std::u16string heading, details, name;  // what the lines show
  // shlwapi's, where it loaded.
  decltype(&::StrFormatByteSizeW) format_size = nullptr;
};

// `keep` units of the name, its middle cut out.
std::u16string Cut(const std::u16string& name, std::size_t keep) {
  std::size_t head = keep / 2;
  std::size_t tail = name.size() - (keep - keep / 2);
  // Never between the halves of a surrogate pair.
  if (head > 0 && common::IsLowSurrogate(name[head])) --head;
  if (tail < name.size() && common::IsLowSurrogate(name[tail])) ++tail;
  return name.substr(0, head) + u"\u2026" + name.substr(tail);
}

// The name on one line of the dialog's width, its middle cut out where it
// is wider: the dialog never grows, and Cancel never moves.
std::u16string FitName(HWND dialog, const Shown& shown, std::u16string name) {
  HDC dc = ::GetDC(dialog);
  HGDIOBJ old = ::SelectObject(dc, shown.font.Get());
  const auto fits = [&](const std::u16string& text) {
    SIZE size = {};
    ::GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(text.c_str()),
                            static_cast<int>(text.size()), &size);
    return size.cx <= shown.name_width;
  };
  if (!fits(name)) {
    std::size_t low = 0;
    std::size_t high = name.size() - 1;
    while (low < high) {
      const std::size_t keep = (low + high + 1) / 2;
      if (fits(Cut(name, keep))) {
        low = keep;
      } else {
        high = keep - 1;
      }
    }
    name = Cut(name, low);
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(dialog, dc);
  return name;
}

// A size as Explorer shows it, or in digits without shlwapi.
std::u16string Size(const Shown& shown, std::uint64_t bytes) {
  wchar_t text[32] = {};
  if (shown.format_size == nullptr ||
      shown.format_size(static_cast<LONGLONG>(bytes), text, 32) == nullptr) {
    return progress::Digits(bytes);
  }
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

void SetText(HWND dialog, int id, const std::u16string& text,
             std::u16string* shown) {
  if (text == *shown) return;
  *shown = text;
  ::SetDlgItemTextW(dialog, id, reinterpret_cast<const wchar_t*>(text.c_str()));
}

// The run has ended, or the user cancelled: the window closes.
void End(HWND dialog, Shown& shown) {
  ::KillTimer(dialog, kTimer);
  shown.taskbar->Clear(dialog);
  if (!shown.ended) shown.feed->Cancel();
  ::EndDialog(dialog, 0);
}

// Shows the feed's view, or ends the window once the run has ended.
void Refresh(HWND dialog, Shown& shown) {
  ProgressView view;
  if (!shown.feed->Update(&view)) {
    shown.ended = true;
    End(dialog, shown);
    return;
  }
  const std::u16string details = progress::DetailsText(progress::DetailsOf(
      view, [&](std::uint64_t bytes) { return Size(shown, bytes); }));
  // The heading tells the percentage the bar shows.
  SetText(dialog, DIGESTBOX_PROGRESS_HEADING,
          progress::HeadingText(view.unit, view.done, view.all, view.percent),
          &shown.heading);
  SetText(dialog, DIGESTBOX_PROGRESS_DETAILS, details, &shown.details);
  SetText(
      dialog, DIGESTBOX_PROGRESS_NAME,
      FitName(dialog, shown,
              common::VisibleText(view.name.View(), common::LineEnds::kEscaped,
                                  common::EscapeForm::kAngle)),
      &shown.name);
  ::SendDlgItemMessageW(dialog, DIGESTBOX_PROGRESS_BAR, PBM_SETPOS,
                        static_cast<WPARAM>(view.percent), 0);
  shown.taskbar->Show(dialog, view.percent);
}

// The window's own words: Cancel's and those of progress_texts.h.
std::u16string OwnWords(HWND dialog) {
  wchar_t cancel[32] = {};
  ::GetDlgItemTextW(dialog, IDCANCEL, cancel, 32);
  std::u16string own(reinterpret_cast<const char16_t*>(cancel));
  for (const auto unit : {progress::Unit::kFiles, progress::Unit::kRecords,
                          progress::Unit::kDigestFiles}) {
    own += progress::CountText(unit, 1, 2);
  }
  return own + progress::LeftText(3725) + progress::SpeedText(u"");
}

void Open(HWND dialog, Shown& shown) {
  ::SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&shown));
  ::SetWindowTextW(dialog, platform::win32::W(shown.caption));
  // The message boxes' font, or a face of its size that has the window's
  // Japanese words where it lacks them (Wine's Tahoma): Wine's fallback
  // may draw them as squares.
  const std::u16string own = OwnWords(dialog);
  shown.font.Cover(own, own);
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    ::SendMessageW(child, WM_SETFONT,
                   reinterpret_cast<WPARAM>(shown.font.Get()), FALSE);
  }
  RECT line = {};
  ::GetClientRect(::GetDlgItem(dialog, DIGESTBOX_PROGRESS_NAME), &line);
  shown.name_width = Width(line);
  ::SendMessageW(dialog, DM_SETDEFID, DIGESTBOX_PROGRESS_NO_DEFAULT, 0);
  ::SetFocus(::GetDlgItem(dialog, DIGESTBOX_PROGRESS_BAR));
  ::SetTimer(dialog, kTimer, kRefreshMs, nullptr);
  Refresh(dialog, shown);
}

INT_PTR CALLBACK OnMessage(HWND dialog, UINT message, WPARAM wparam,
                           LPARAM lparam) {
  auto* shown =
      reinterpret_cast<Shown*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      Open(dialog, *reinterpret_cast<Shown*>(lparam));
      return FALSE;  // the focus is set
    case WM_TIMER:
      if (shown != nullptr && !shown->ended) Refresh(dialog, *shown);
      return TRUE;
    case WM_COMMAND:
      // Cancel, Escape, Alt+F4 and the close button; IDOK (Return where
      // no default is found) does nothing.
      if (LOWORD(wparam) == IDCANCEL && shown != nullptr && !shown->ended) {
        End(dialog, *shown);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowProgressDialog(const common::WideString& title, ProgressFeed& feed,
                        TaskbarButton& taskbar) {
  // The bar's class, from the comctl32 the manifest names.
  HMODULE controls = ::LoadLibraryW(L"comctl32.dll");
  const auto init = DIGESTBOX_LOOKED_UP(controls, InitCommonControlsEx);
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
  if (init != nullptr) init(&classes);
  // Loaded here, not imported: an import loads before WinMain keeps DLLs to
  // System32, and shlwapi's own imports (shcore) would then be looked for
  // beside the program too.
  HMODULE shell =
      ::LoadLibraryExW(L"shlwapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  Shown shown;
  shown.format_size = DIGESTBOX_LOOKED_UP(shell, StrFormatByteSizeW);
  shown.feed = &feed;
  shown.taskbar = &taskbar;
  shown.caption = common::WideString(common::VisibleText(
      title.View(), common::LineEnds::kEscaped, common::EscapeForm::kAngle));
  // Where no window can be made, the run goes on unseen.
  ::DialogBoxParamW(::GetModuleHandleW(nullptr),
                    MAKEINTRESOURCEW(DIGESTBOX_PROGRESS_DIALOG), nullptr,
                    OnMessage, reinterpret_cast<LPARAM>(&shown));
  if (controls != nullptr) ::FreeLibrary(controls);
  if (shell != nullptr) ::FreeLibrary(shell);
}

void Win32Desktop::ShowProgress(const common::WideString& title,
                                ProgressFeed& feed) {
  ShellTaskbar taskbar;
  ShowProgressDialog(title, feed, taskbar);
}

}  // namespace win32
}  // namespace desktop
