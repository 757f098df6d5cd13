#pragma once

#include <atomic>
#include <functional>

#include "progress/clock.h"

// Time that moves only as the run waits: each wait takes a real millisecond
// (less once the latch is set; Windows' timer makes it up to 16) and moves
// the time on by all it asked for. A
// wait that would reach `limit` waits for the latch instead, so time never
// gets there. `moved`, where given, runs on the waiting thread each time the
// time moves, before the wait returns: what it sets is seen at that time
// however the threads are scheduled.
class FakeClock : public progress::Clock {
 public:
  explicit FakeClock(progress::Duration limit = progress::Duration::max(),
                     std::function<void(progress::Duration)> moved = {})
      : limit_(limit), moved_(std::move(moved)) {}

  progress::Duration Now() override { return now_.load(); }
  bool Wait(progress::Latch& latch, progress::Duration wait) override {
    if (limit_ - now_.load() <= wait) {
      latch.Wait();
      return true;
    }
    const bool set = latch.WaitFor(progress::Duration(1));
    if (held_.load()) return set;
    now_.store(now_.load() + wait);
    if (moved_) moved_(now_.load());
    return set;
  }

  // While held, waits take their real millisecond but the time stands
  // still: a thread that starts late under load finds it where it began.
  void Hold(bool held) { held_.store(held); }

 private:
  const progress::Duration limit_;
  const std::function<void(progress::Duration)> moved_;
  std::atomic<progress::Duration> now_{progress::Duration(0)};
  std::atomic<bool> held_{false};
};
