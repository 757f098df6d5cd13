#pragma once

#include <atomic>
#include <functional>
#include <utility>

#include "run/stop.h"

namespace pipeline {

// What the pipeline needs of a thread's context: whether the thread is in a
// call that may never return, and the stop its job reads after each such
// call. Each context belongs to one thread, which alone calls it, apart from
// InBlockingCall, read by the pass when it lets the workers go.
class JobContext {
 public:
  JobContext() = default;
  JobContext(const JobContext&) = delete;
  JobContext& operator=(const JobContext&) = delete;

  // True while the thread is inside a call that may never return (an open
  // or a read on a file system that does not answer): a stop does not wait
  // for it then.
  std::atomic<bool>& InBlockingCall() { return in_blocking_call_; }

  // Set once, before the thread starts, by the pipeline that makes the
  // context and outlives it: the stop its job obeys (the run's on the
  // pass; on a worker the crew's, which follows the run's), and what tells
  // the crew waiting for this thread that it entered a blocking call after
  // that stop.
  void ReadStop(const run::Stop* stop, std::function<void()> blocked) {
    stop_ = stop;
    blocked_ = std::move(blocked);
  }
  // Whether the job is to give up after the call in hand.
  bool Stopped() const { return stop_ != nullptr && stop_->Requested(); }

 private:
  friend class BlockingCall;
  std::atomic<bool> in_blocking_call_{false};
  const run::Stop* stop_ = nullptr;
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

}  // namespace pipeline
