#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "desktop/desktop.h"

// One message box as the program showed it.
struct RecordedBox {
  std::u16string text;
  bool has_caption = false;
  std::u16string caption;
  std::uint32_t style = 0;
};

// One progress window as the program showed it: every view it was given.
struct RecordedProgress {
  std::u16string title;
  std::vector<desktop::ProgressView> views;
  bool cancelled = false;
};

// A desktop for tests: keys held by the test, answers given in turn (No when
// none is left), a Cancel before a given update of a progress window, every
// key query, box and progress view recorded.
class ScriptedDesktop : public desktop::Desktop {
 public:
  void Hold(int virtual_key) { held_.insert(virtual_key); }
  void Answer(int button) { answers_.push_back(button); }
  // Runs while a box is up, as a user could act then.
  void WhileShown(std::function<void()> action) {
    while_shown_ = std::move(action);
  }

  // Cancels before the window's update `update` (0: before the first).
  void CancelProgressAt(int update) { cancel_at_ = update; }
  // Cancels at the first update where `ready` holds.
  void CancelProgressWhen(std::function<bool()> ready) {
    cancel_when_ = std::move(ready);
  }

  // Ctrl+C as the run's watch hears it, on the calling thread; false while
  // no run watches.
  bool Interrupt();

  bool IsKeyDown(int virtual_key) override;
  int ShowMessageBox(const common::WideString& text,
                     const common::WideString& caption,
                     std::uint32_t style) override;
  void ShowProgress(const common::WideString& title,
                    desktop::ProgressFeed& feed) override;
  std::unique_ptr<desktop::RunWatch> WatchRun(
      const std::function<void()>& cancel) override;

  std::vector<int> key_queries;
  std::vector<RecordedBox> boxes;
  std::vector<RecordedProgress> progress;

 private:
  std::set<int> held_;
  std::deque<int> answers_;
  std::function<void()> while_shown_;
  int cancel_at_ = -1;
  std::function<bool()> cancel_when_;
  std::mutex watch_mutex_;
  std::function<void()> watch_;  // the run's cancel while it watches
};
