#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "common/mutex.h"

namespace common {

class StopCallback;

// A run's one stop, in the shape of the standard library's stop_source:
// asked for once, by any thread; each wait of the run registers a callback
// that wakes it, so that a stop wakes every wait at once and none polls.
// The callbacks run on the thread that asks, outside the stop's lock (so a
// callback may take the lock of the wait it wakes), each once; never in a
// signal handler. Threads: any.
class Stop {
 public:
  Stop() = default;
  ~Stop() = default;
  Stop(const Stop&) = delete;
  Stop& operator=(const Stop&) = delete;

  // Asks for the stop and runs every callback registered; false where it
  // was asked for already (nothing runs then).
  bool Request();
  bool Requested() const { return requested_.load(); }
  // Waits until the stop is asked for or `wait` has passed, a wait for a
  // stated deadline; whether it was asked for.
  bool WaitFor(std::chrono::milliseconds wait);

 private:
  friend class StopCallback;
  std::atomic<bool> requested_{false};
  common::Mutex mutex_;
  common::CondVar changed_;  // a stop, or a callback has run
  // Registered callbacks not yet run, a list through their own links: a
  // registration allocates nothing.
  StopCallback* first_ GUARDED_BY(mutex_) = nullptr;
  StopCallback* running_ GUARDED_BY(mutex_) = nullptr;  // run by Request now
  std::thread::id requester_ GUARDED_BY(mutex_);
};

// Runs `callback` once when `stop` is asked for: at once, on this thread,
// where it was asked for already. Unregistered when it dies; where its
// callback is running on another thread then, it waits for its end (the
// callback may touch what dies with its owner). The stop outlives it.
class StopCallback {
 public:
  StopCallback(Stop& stop, std::function<void()> callback);
  ~StopCallback();
  StopCallback(const StopCallback&) = delete;
  StopCallback& operator=(const StopCallback&) = delete;

 private:
  friend class Stop;
  Stop& stop_;
  const std::function<void()> callback_;
  StopCallback* previous_ GUARDED_BY(stop_.mutex_) = nullptr;
  StopCallback* next_ GUARDED_BY(stop_.mutex_) = nullptr;
  bool listed_ GUARDED_BY(stop_.mutex_) = false;
};

}  // namespace common
