// A long run's progress as a task dialog (comctl32 6, which the manifest
// asks for).
#include <cstdint>
#include <string>

#include "common/unicode.h"
#include "common/visible_text.h"
#include "desktop/win32/message_font.h"
#include "desktop/win32/taskbar_button.h"
#include "desktop/win32/win32_desktop.h"
#include "platform/win32/looked_up.h"
#include "platform/win32/windows_include.h"
#include "progress/progress_texts.h"
// After <windows.h>, which it builds on.
#include <commctrl.h>
#include <shlwapi.h>

namespace platform {
namespace win32 {
namespace {

constexpr int kBarRange = 100;
// The content's margins, both sides, in dialog units.
constexpr int kContentMargins = 24;

struct Shown {
  ProgressFeed* feed = nullptr;
  TaskbarButton* taskbar = nullptr;
  bool ended = false;       // the run ended the dialog, not the user
  HWND previous = nullptr;  // the window that had the focus before
  MessageFont font;         // as the content is drawn
  int name_width = 0;       // pixels a name may take on its line
  std::u16string instruction;
  std::u16string content;
  // shlwapi's, where it loaded.
  decltype(&::StrFormatByteSizeW) format_size = nullptr;
};

// `keep` units of the name, its middle cut out.
std::u16string Cut(const std::u16string& name, std::size_t keep) {
  std::size_t head = keep / 2;
  std::size_t tail = name.size() - (keep - keep / 2);
  // Never between the halves of a surrogate pair.
  if (head > 0 && IsLowSurrogate(name[head])) --head;
  if (tail < name.size() && IsLowSurrogate(name[tail])) ++tail;
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

void SetText(HWND dialog, TASKDIALOG_ELEMENTS element,
             const std::u16string& text, std::u16string* shown) {
  if (text == *shown) return;
  *shown = text;
  ::SendMessageW(dialog, TDM_SET_ELEMENT_TEXT, element,
                 reinterpret_cast<LPARAM>(shown->c_str()));
}

// Shows the feed's view, or ends the dialog once the run has ended.
void Refresh(HWND dialog, Shown& shown) {
  ProgressView view;
  if (!shown.feed->Update(&view)) {
    shown.ended = true;
    ::SendMessageW(dialog, TDM_CLICK_BUTTON, IDCANCEL, 0);
    return;
  }
  const std::u16string details = progress::DetailsText(progress::DetailsOf(
      view, [&](std::uint64_t bytes) { return Size(shown, bytes); }));
  // Two lines always, never an empty one, so that the dialog keeps its
  // size.
  std::u16string name = FitName(
      dialog, shown,
      VisibleText(view.name.View(), LineEnds::kEscaped, EscapeForm::kAngle));
  const std::u16string content = (details.empty() ? u" " : details) + u"\r\n" +
                                 (name.empty() ? u" " : name);
  // The heading tells the percentage the bar shows.
  SetText(dialog, TDE_MAIN_INSTRUCTION,
          progress::HeadingText(view.unit, view.done, view.all, view.percent),
          &shown.instruction);
  SetText(dialog, TDE_CONTENT, content, &shown.content);
  ::SendMessageW(dialog, TDM_SET_PROGRESS_BAR_POS,
                 static_cast<WPARAM>(view.percent), 0);
  shown.taskbar->Show(dialog, view.percent);
}

// Gives the focus back to the window that had it, once the dialog shows:
// a one-button task dialog makes Cancel its default, and a Return meant for
// that window would cancel the run. The timer's id is that window.
void CALLBACK GiveFocusBack(HWND dialog, UINT, UINT_PTR previous, DWORD) {
  ::KillTimer(dialog, previous);
  const auto window = reinterpret_cast<HWND>(previous);
  if (::IsWindow(window) && ::IsWindowVisible(window)) {
    ::SetForegroundWindow(window);
  }
}

HRESULT CALLBACK OnEvent(HWND dialog, UINT event, WPARAM, LPARAM,
                         LONG_PTR data) {
  Shown& shown = *reinterpret_cast<Shown*>(data);
  switch (event) {
    case TDN_CREATED:
      // Created, not yet shown: the focus goes back once it is.
      if (shown.previous != nullptr && shown.previous != dialog) {
        ::SetTimer(dialog, reinterpret_cast<UINT_PTR>(shown.previous),
                   USER_TIMER_MINIMUM, GiveFocusBack);
      }
      ::SendMessageW(dialog, TDM_SET_PROGRESS_BAR_RANGE, 0,
                     MAKELPARAM(0, kBarRange));
      {
        RECT client = {};
        ::GetClientRect(dialog, &client);
        RECT margins = {0, 0, kContentMargins, 0};
        ::MapDialogRect(dialog, &margins);
        shown.name_width = Width(client) - margins.right;
      }
      Refresh(dialog, shown);
      break;
    case TDN_TIMER:  // about five times a second
      if (!shown.ended) Refresh(dialog, shown);
      break;
    case TDN_BUTTON_CLICKED:  // Cancel, Escape or the close button
      shown.taskbar->Clear(dialog);
      if (!shown.ended) shown.feed->Cancel();
      break;
    default:
      break;
  }
  return S_OK;
}

}  // namespace

void ShowProgressDialog(const WideString& title, ProgressFeed& feed,
                        TaskbarButton& taskbar) {
  // Looked up, not imported: a program whose manifest is ignored gets the
  // comctl32 5 of System32, which has no task dialog, and runs on without
  // the window.
  HMODULE controls = ::LoadLibraryW(L"comctl32.dll");
  const auto show = DIGESTBOX_LOOKED_UP(controls, TaskDialogIndirect);
  // Loaded here, not imported: an import loads before WinMain keeps DLLs to
  // System32, and shlwapi's own imports (shcore) would then be looked for
  // beside the program too.
  HMODULE shell =
      ::LoadLibraryExW(L"shlwapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  Shown shown;
  shown.format_size = DIGESTBOX_LOOKED_UP(shell, StrFormatByteSizeW);
  shown.feed = &feed;
  shown.taskbar = &taskbar;
  shown.previous = ::GetForegroundWindow();
  const WideString caption(
      VisibleText(title.View(), LineEnds::kEscaped, EscapeForm::kAngle));
  TASKDIALOGCONFIG config = {};
  config.cbSize = sizeof(config);
  config.dwFlags = TDF_SHOW_PROGRESS_BAR | TDF_CALLBACK_TIMER |
                   TDF_ALLOW_DIALOG_CANCELLATION | TDF_CAN_BE_MINIMIZED;
  config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = W(caption);
  // Placeholders of the lines' shape, so that the dialog is laid out for
  // them from the start.
  config.pszMainInstruction = L" ";
  config.pszContent = L" \r\n ";
  config.pfCallback = OnEvent;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(&shown);
  config.cxWidth = 260;
  if (show != nullptr) show(&config, nullptr, nullptr, nullptr);
  if (controls != nullptr) ::FreeLibrary(controls);
  if (shell != nullptr) ::FreeLibrary(shell);
}

void Win32Desktop::ShowProgress(const WideString& title, ProgressFeed& feed) {
  ShellTaskbar taskbar;
  ShowProgressDialog(title, feed, taskbar);
}

}  // namespace win32
}  // namespace platform
