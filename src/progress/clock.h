#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace progress {

using Duration = std::chrono::milliseconds;

// Set by one thread for others to wait on: the end of a run's pass, or a
// box it asks for. Reset only by the thread that waits on it.
class Latch {
 public:
  void Set() {
    const std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  void Reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
  }
  bool IsSet() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }
  // Whether it was set within `wait`.
  bool WaitFor(Duration wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, wait, [this] { return set_; });
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
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
