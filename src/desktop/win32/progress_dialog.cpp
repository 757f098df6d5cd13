// A long run's progress as a task dialog (comctl32 6, which the manifest
// asks for).
#include <cstdint>
#include <string>

#include "common/unicode.h"
#include "common/visible_text.h"
#include "desktop/win32/win32_desktop.h"
#include "platform/win32/windows_include.h"
#include "progress/progress_texts.h"
// After <windows.h>, which it builds on.
#include <commctrl.h>
#include <shlwapi.h>

namespace platform {
namespace win32 {
namespace {

using TaskDialogIndirectCall = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*,
                                                int*, BOOL*);

// Names longer than this lose their middle: the dialog keeps its width.
constexpr std::size_t kNameRoom = 60;
constexpr int kBarRange = 100;

struct Shown {
  ProgressFeed* feed = nullptr;
  bool ended = false;       // the run ended the dialog, not the user
  HWND previous = nullptr;  // the window that had the focus before
  std::u16string instruction;
  std::u16string content;
};

std::u16string CutName(std::u16string name) {
  if (name.size() <= kNameRoom) return name;
  const std::size_t half = (kNameRoom - 1) / 2;
  std::size_t head = half;
  std::size_t tail = name.size() - half;
  // Never between the halves of a surrogate pair.
  if (IsLowSurrogate(name[head])) --head;
  if (IsLowSurrogate(name[tail])) ++tail;
  return name.substr(0, head) + u"\u2026" + name.substr(tail);
}

// A size as Explorer shows it.
std::u16string Size(std::uint64_t bytes) {
  wchar_t text[32] = {};
  if (::StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, 32) == nullptr) {
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
  std::u16string details;
  const auto add = [&](const std::u16string& part) {
    if (!details.empty()) details += u"    ";
    details += part;
  };
  if (view.bytes_known) {
    add(progress::OfText(Size(view.bytes_done), Size(view.bytes_all)));
  }
  if (view.speed_known) add(progress::SpeedText(Size(view.speed)));
  if (view.left_known) add(progress::LeftText(view.seconds_left));
  const std::u16string content =
      details + u"\r\n" +
      CutName(VisibleText(view.name.View(), LineEnds::kEscaped, false));
  // The heading tells the percentage the bar shows.
  SetText(dialog, TDE_MAIN_INSTRUCTION,
          progress::HeadingText(view.unit, view.done, view.all, view.percent),
          &shown.instruction);
  SetText(dialog, TDE_CONTENT, content, &shown.content);
  ::SendMessageW(dialog, TDM_SET_PROGRESS_BAR_POS,
                 static_cast<WPARAM>(view.percent), 0);
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
      Refresh(dialog, shown);
      break;
    case TDN_TIMER:  // about five times a second
      if (!shown.ended) Refresh(dialog, shown);
      break;
    case TDN_BUTTON_CLICKED:  // Cancel, Escape or the close button
      if (!shown.ended) shown.feed->Cancel();
      break;
    default:
      break;
  }
  return S_OK;
}

}  // namespace

void Win32Desktop::ShowProgress(const WideString& title, ProgressFeed& feed) {
  // Looked up, not imported: a program whose manifest is ignored gets the
  // comctl32 5 of System32, which has no task dialog, and runs on without
  // the window.
  HMODULE controls = ::LoadLibraryW(L"comctl32.dll");
  const auto show =
      controls == nullptr
          ? nullptr
          : reinterpret_cast<TaskDialogIndirectCall>(reinterpret_cast<void*>(
                ::GetProcAddress(controls, "TaskDialogIndirect")));
  Shown shown;
  shown.feed = &feed;
  shown.previous = ::GetForegroundWindow();
  const WideString caption(
      VisibleText(title.View(), LineEnds::kEscaped, false));
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
}

}  // namespace win32
}  // namespace platform
