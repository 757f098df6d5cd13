#pragma once

#include <atomic>
#include <cstdint>

#include "pipeline/threads.h"

namespace pipeline {

// What the pipeline needs of a worker's context: whether its thread is in a
// call that may never return, and where it counts the bytes it has done.
class JobContext {
 public:
  JobContext() = default;
  JobContext(const JobContext&) = delete;
  JobContext& operator=(const JobContext&) = delete;

  // True while the thread is inside a call that may never return (an open
  // or a read on a file system that does not answer): a stop does not wait
  // for it then.
  std::atomic<bool>& InBlockingCall() { return in_blocking_call_; }

  void CountBytesIn(std::atomic<std::uint64_t>* counter) { bytes_ = counter; }
  // How the run starts threads, for helpers of its own; none by default.
  void UseThreads(const Threads* threads) { threads_ = threads; }
  const Threads* RunThreads() const { return threads_; }
  // The run's own stop, on the pass's context: once *flag turns true (the
  // user cancelled), a job gives up after the call in hand.
  void StopOn(const std::atomic<bool>* flag) { stop_ = flag; }
  bool Stopped() const {
    return stop_ != nullptr && stop_->load(std::memory_order_relaxed);
  }
  void CountBytes(std::uint64_t bytes) {
    if (bytes_ != nullptr) bytes_->fetch_add(bytes, std::memory_order_relaxed);
  }

 private:
  std::atomic<bool> in_blocking_call_{false};
  std::atomic<std::uint64_t>* bytes_ = nullptr;
  const Threads* threads_ = nullptr;
  const std::atomic<bool>* stop_ = nullptr;
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
