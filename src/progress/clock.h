#pragma once

#include <chrono>

#include "common/mutex.h"

namespace progress {

using Duration = std::chrono::milliseconds;

// Set by one thread for others to wait on: the end of a run's pass, or a
// box it asks for. Reset only by the thread that waits on it.
class Latch {
 public:
  void Set() {
    const common::Lock lock(mutex_);
    set_ = true;
    changed_.NotifyAll();
  }
  void Reset() {
    const common::Lock lock(mutex_);
    set_ = false;
  }
  bool IsSet() {
    const common::Lock lock(mutex_);
    return set_;
  }
  // Whether it was set within `wait`.
  bool WaitFor(Duration wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    common::Lock lock(mutex_);
    while (!set_) {
      if (!changed_.WaitUntil(lock, deadline)) return set_;
    }
    return true;
  }
  void Wait() {
    common::Lock lock(mutex_);
    while (!set_) changed_.Wait(lock);
  }

 private:
  common::Mutex mutex_;
  common::CondVar changed_;
  bool set_ GUARDED_BY(mutex_) = false;
};

// Where a run's times come from: the steady clock, or the suites' own, which
// lets no test wait for seconds. Threads: any.
class Clock {
 public:
  virtual ~Clock() = default;
  // Time since a fixed moment.
  virtual Duration Now() = 0;
  // Waits until `latch` is set or `wait` has passed; whether it is set.
  virtual bool Wait(Latch& latch, Duration wait) = 0;
};

class SteadyClock : public Clock {
 public:
  Duration Now() override {
    return std::chrono::duration_cast<Duration>(
        std::chrono::steady_clock::now().time_since_epoch());
  }
  bool Wait(Latch& latch, Duration wait) override {
    return latch.WaitFor(wait);
  }
};

}  // namespace progress
