#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "desktop/desktop.h"
#include "progress/clock.h"

namespace run {

// The desktop as a run's own thread sees it: a box it shows is handed to
// the desktop's thread, which closes the progress window first and shows
// it there, and the answer comes back. Once closed (the run cancelled, or
// its window gone), a box is answered OK unseen. Keys and progress are the
// desktop thread's alone. Threads: ShowMessageBox on the run's thread; the
// rest on the desktop's.
class BoxRelay : public platform::Desktop {
 public:
  bool IsKeyDown(int) override { return false; }
  int ShowMessageBox(const WideString& text, const WideString& caption,
                     std::uint32_t style) override;
  void ShowProgress(const WideString&, platform::ProgressFeed&) override {}

  // Set when a box is asked for, or the run ends; reset by the desktop's
  // thread as it answers.
  progress::Latch& Wake() { return wake_; }
  progress::Latch& Ended() { return ended_; }
  // The run's thread is done.
  void End() {
    ended_.Set();
    wake_.Set();
  }
  bool Asked();
  // Shows the box asked for on `desktop` and hands back its answer.
  void Answer(platform::Desktop& desktop);
  void Close();

 private:
  struct Box {
    WideString text;
    WideString caption;
    std::uint32_t style = 0;
  };
  std::mutex mutex_;
  std::condition_variable answered_;
  std::optional<Box> asked_;
  std::optional<int> answer_;
  bool closed_ = false;
  progress::Latch wake_;
  progress::Latch ended_;
};

}  // namespace run
