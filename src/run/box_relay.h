#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "common/mutex.h"
#include "common/stop.h"
#include "desktop/desktop.h"
#include "progress/clock.h"

namespace run {

// The desktop as a run's own thread sees it: a box it shows is handed to
// the desktop's thread, which closes the progress window first and shows
// it there, and the answer comes back. Once the run's stop is asked for (a
// cancel, or its window gone; the run shows its boxes here only before
// its items are hashed, so no end or failure asks for it while a box may
// come), a box is answered OK unseen, and one waiting gets OK at once.
// Keys and progress are the desktop thread's alone. Threads:
// ShowMessageBox on the run's thread; the rest on the desktop's; the
// stop's callback on whichever thread asks for it.
class BoxRelay : public desktop::Desktop {
 public:
  explicit BoxRelay(std::shared_ptr<common::Stop> stop);
  BoxRelay(const BoxRelay&) = delete;
  BoxRelay& operator=(const BoxRelay&) = delete;
  bool IsKeyDown(int) override { return false; }
  int ShowMessageBox(const common::WideString& text,
                     const common::WideString& caption,
                     std::uint32_t style) override;
  void ShowProgress(const common::WideString&,
                    desktop::ProgressFeed&) override {}

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
  void Answer(desktop::Desktop& desktop);

 private:
  struct Box {
    common::WideString text;
    common::WideString caption;
    std::uint32_t style = 0;
  };
  common::Mutex mutex_;
  common::CondVar answered_;
  std::optional<Box> asked_ GUARDED_BY(mutex_);
  std::optional<int> answer_ GUARDED_BY(mutex_);
  progress::Latch wake_;
  progress::Latch ended_;
  const std::shared_ptr<common::Stop> stop_;
  common::StopCallback closes_;  // last: dies before what it wakes
};

}  // namespace run
