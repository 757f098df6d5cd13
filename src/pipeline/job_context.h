#pragma once

#include <atomic>

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

  // Set once, by the pipeline that makes the context and outlives it: the
  // run's one stop, and on a worker also the crew's (the workers let go
  // while the pass goes on alone).
  void ReadStops(const std::atomic<bool>* run, const std::atomic<bool>* crew) {
    run_stop_ = run;
    crew_stop_ = crew;
  }
  // Whether the job is to give up after the call in hand.
  bool Stopped() const {
    return (run_stop_ != nullptr && run_stop_->load()) ||
           (crew_stop_ != nullptr && crew_stop_->load());
  }

 private:
  std::atomic<bool> in_blocking_call_{false};
  const std::atomic<bool>* run_stop_ = nullptr;
  const std::atomic<bool>* crew_stop_ = nullptr;
};

// Marks a call that may never return for the time it runs.
class BlockingCall {
 public:
  explicit BlockingCall(JobContext& context) : flag_(context.InBlockingCall()) {
    flag_.store(true);
  }
  ~BlockingCall() { flag_.store(false); }
  BlockingCall(const BlockingCall&) = delete;
  BlockingCall& operator=(const BlockingCall&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace pipeline
