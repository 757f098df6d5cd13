#pragma once

#include <atomic>

#include "progress/clock.h"

// Time that moves only as the run waits: each wait takes a real millisecond
// (less once the latch is set; Windows' timer makes it up to 16) and moves
// the time on by all it asked for. A
// wait that would reach `limit` waits for the latch instead, so time never
// gets there.
class FakeClock : public progress::Clock {
 public:
  explicit FakeClock(progress::Duration limit = progress::Duration::max())
      : limit_(limit) {}

  progress::Duration Now() override { return now_.load(); }
  bool Wait(progress::Latch& latch, progress::Duration wait) override {
    if (limit_ - now_.load() <= wait) {
      latch.Wait();
      return true;
    }
    const bool set = latch.WaitFor(progress::Duration(1));
    now_.store(now_.load() + wait);
    return set;
  }

 private:
  const progress::Duration limit_;
  std::atomic<progress::Duration> now_{progress::Duration(0)};
};
