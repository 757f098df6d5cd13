// The progress window as a suite can see it: a fake taskbar button (Wine's
// ITaskbarList3 drops the progress) that reads the window's bar, heading
// and size at each update, and presses Return and Space at the first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/win32/taskbar_button.h"

#include <commctrl.h>
#include <windows.h>

namespace {

// Eight updates, each further on, the name far wider than the dialog on
// every other one.
class StepFeed : public desktop::ProgressFeed {
 public:
  bool Update(desktop::ProgressView* view) override {
    if (step_ == 8) return false;
    *view = desktop::ProgressView();
    view->unit = progress::Unit::kRecords;
    view->done = step_;
    view->all = 8;
    view->percent = step_ * 12;
    view->name =
        common::WideString(std::u16string(step_ % 2 == 0 ? 400 : 5, u'名'));
    ++step_;
    return true;
  }
  void Wait(std::uint32_t) override {}
  void Cancel() override { cancelled = true; }
  bool cancelled = false;

 private:
  unsigned step_ = 0;
};

struct Seen {
  unsigned percent = 0;
  LRESULT bar = -1;
  std::wstring texts;
  RECT rect = {};
  std::wstring focus;  // the focused control's class
  bool default_is_a_control = true;
};

BOOL CALLBACK ReadChild(HWND child, LPARAM data) {
  Seen& seen = *reinterpret_cast<Seen*>(data);
  wchar_t name[64] = {};
  ::GetClassNameW(child, name, 64);
  if (std::wstring(name) == PROGRESS_CLASSW) {
    seen.bar = ::SendMessageW(child, PBM_GETPOS, 0, 0);
  }
  wchar_t text[512] = {};
  ::GetWindowTextW(child, text, 512);
  seen.texts += std::wstring(text) + L"\n";
  return TRUE;
}

class FakeTaskbar : public desktop::win32::TaskbarButton {
 public:
  void Show(HWND window, unsigned percent) override {
    Seen seen;
    seen.percent = percent;
    ::GetWindowRect(window, &seen.rect);
    ::EnumChildWindows(window, ReadChild, reinterpret_cast<LPARAM>(&seen));
    wchar_t name[64] = {};
    ::GetClassNameW(::GetFocus(), name, 64);
    seen.focus = name;
    const LRESULT id = ::SendMessageW(window, DM_GETDEFID, 0, 0);
    seen.default_is_a_control =
        HIWORD(id) == DC_HASDEFID && ::GetDlgItem(window, LOWORD(id));
    if (shown.empty()) {  // read by the window's loop, as a user's keys
      for (const WPARAM key : {VK_RETURN, VK_SPACE}) {
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, key, 0);
        ::PostMessageW(::GetFocus(), WM_KEYUP, key, 0xC0000001);
      }
      ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    shown.push_back(seen);
  }
  void Clear(HWND) override { ++cleared; }
  std::vector<Seen> shown;
  int cleared = 0;
};

// The heading tells the bar's share, the button shows it too, and the
// window keeps its size whatever the name. Return, Space and IDOK cancel
// nothing: the focus is on no button, and no control is the default.
TEST(ProgressDialogTest, BarHeadingAndButtonAgreeAndTheSizeStays) {
  StepFeed feed;
  FakeTaskbar taskbar;
  desktop::win32::ShowProgressDialog(common::WideString(u"t"), feed, taskbar);
  EXPECT_FALSE(feed.cancelled);
  EXPECT_EQ(taskbar.cleared, 1);
  ASSERT_EQ(taskbar.shown.size(), 8u);
  for (std::size_t i = 0; i < taskbar.shown.size(); ++i) {
    const Seen& seen = taskbar.shown[i];
    EXPECT_EQ(seen.percent, i * 12);
    EXPECT_EQ(seen.bar, static_cast<LRESULT>(seen.percent)) << i;
    EXPECT_EQ(seen.focus, PROGRESS_CLASSW) << i;
    EXPECT_FALSE(seen.default_is_a_control) << i;
    EXPECT_NE(seen.texts.find(L"件  " + std::to_wstring(seen.percent) + L"%"),
              std::wstring::npos)
        << i;
    // Laid out at the first; the same from then on.
    const RECT& first = taskbar.shown[1].rect;
    if (i > 1) {
      EXPECT_TRUE(::EqualRect(&seen.rect, &first)) << i;
    }
  }
}

}  // namespace
