#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Runs the jobs 0, 1, 2, ... of one pass on worker threads, a few files per
// worker ahead of the pass, and hands their results over strictly in order:
// the pass sees what one thread would have seen, only sooner. A job that
// must run in turn (a file the pass itself may write) runs on the pass's
// own thread when its turn comes. With one worker nothing runs ahead.
// Dropping the object stops the workers at their next block and joins them.
template <typename Result>
class HashAhead {
 public:
  // `stop` turns true when the pass has ended; a job should give up then.
  using Job = std::function<void(std::size_t index, Result* result,
                                 const std::atomic<bool>& stop)>;
  using InTurn = std::function<bool(std::size_t index)>;

  HashAhead(std::size_t count, unsigned workers, Job job, InTurn in_turn)
      : count_(count),
        window_(workers > 1 ? 2 * std::size_t{workers} : 1),
        job_(std::move(job)),
        in_turn_(std::move(in_turn)),
        slots_(window_) {
    for (unsigned i = 0; workers > 1 && i < workers && i < count; ++i) {
      threads_.emplace_back([this] { Work(); });
    }
  }
  ~HashAhead() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  HashAhead(const HashAhead&) = delete;
  HashAhead& operator=(const HashAhead&) = delete;

  // The result of job `index`, the next in order; valid until the next call.
  Result& Take(std::size_t index) {
    Slot& slot = slots_[index % window_];
    std::unique_lock<std::mutex> lock(mutex_);
    taken_ = index;  // frees the slot of the job before it
    changed_.notify_all();
    if (threads_.empty() || (in_turn_ && in_turn_(index))) {
      lock.unlock();  // no worker runs it: workers pass over such jobs
      slot.result = Result();
      job_(index, &slot.result, stop_);
      return slot.result;
    }
    changed_.wait(lock, [&] { return slot.done && slot.index == index; });
    return slot.result;
  }

 private:
  struct Slot {
    std::size_t index = 0;
    bool done = false;
    Result result;
  };

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] {
        return stop_ || next_ >= count_ || next_ < taken_ + window_;
      });
      if (stop_ || next_ >= count_) return;
      const std::size_t index = next_++;
      if (in_turn_ && in_turn_(index)) continue;  // the pass runs it itself
      Slot& slot = slots_[index % window_];
      slot.done = false;
      slot.index = index;
      lock.unlock();
      Result result;
      job_(index, &result, stop_);
      lock.lock();
      slot.result = std::move(result);
      slot.done = true;
      changed_.notify_all();
    }
  }

  const std::size_t count_;
  const std::size_t window_;  // slots, each a job in flight or done
  Job job_;
  InTurn in_turn_;
  std::vector<Slot> slots_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> stop_{false};
  std::size_t next_ = 0;   // the next job a worker may claim
  std::size_t taken_ = 0;  // the job the pass holds
};
