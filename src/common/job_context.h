#pragma once

#include <atomic>
#include <functional>
#include <utility>

namespace common {

// What a job's thread tells whoever runs the job, and is told by it: whether
// the thread is in a call that may never return, and whether its job is to
// give up after the call in hand. Each context belongs to one thread, which
// alone calls it, apart from InBlockingCall, read by whoever lets the thread
// go, and Stopped, which the thread's read-ahead helper reads too.
class JobContext {
 public:
  JobContext() = default;
  JobContext(const JobContext&) = delete;
  JobContext& operator=(const JobContext&) = delete;

  // True while the thread is inside a call that may never return (an open
  // or a read on a file system that does not answer): a stop does not wait
  // for it then.
  std::atomic<bool>& InBlockingCall() { return in_blocking_call_; }

  // Set once, before the thread starts, by whoever makes the context and
  // outlives it: the stop its job obeys (any object whose Requested() may
  // be called from any thread), and what tells whoever waits for this
  // thread that it entered a blocking call after that stop.
  template <typename Stop>
  void ReadStop(const Stop* stop, std::function<void()> blocked) {
    stop_ = stop;
    requested_ = [](const void* of) {
      return static_cast<const Stop*>(of)->Requested();
    };
    blocked_ = std::move(blocked);
  }
  // Whether the job is to give up after the call in hand.
  bool Stopped() const { return stop_ != nullptr && requested_(stop_); }

 private:
  friend class BlockingCall;
  std::atomic<bool> in_blocking_call_{false};
  const void* stop_ = nullptr;
  bool (*requested_)(const void*) = nullptr;
  std::function<void()> blocked_;
};

// Marks a call that may never return for the time it runs. One entered
// after the stop is told to whoever waits for the thread's end: that wait
// has no deadline to poll at.
class BlockingCall {
 public:
  explicit BlockingCall(JobContext& context)
      : flag_(context.in_blocking_call_) {
    flag_.store(true);
    if (context.Stopped() && context.blocked_) context.blocked_();
  }
  ~BlockingCall() { flag_.store(false); }
  BlockingCall(const BlockingCall&) = delete;
  BlockingCall& operator=(const BlockingCall&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace common
