#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Runs the jobs 0, 1, 2, ... of one pass on worker threads, a bounded
// number ahead of the pass, and hands their results over strictly in order:
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
        window_(workers > 1 ? 2 * kBatch * workers : 1),
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
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  HashAhead(const HashAhead&) = delete;
  HashAhead& operator=(const HashAhead&) = delete;

  // The result of job `index`, the next in order; valid until the next call.
  Result& Take(std::size_t index) {
    Slot& slot = slots_[index % window_];
    if (threads_.empty() || (in_turn_ && in_turn_(index))) {
      Release(index);
      slot.result = Result();  // no worker runs it: workers pass it over
      job_(index, &slot.result, stop_);
      return slot.result;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    Release(index, &lock);
    ++pass_waiting_;
    ready_.wait(lock, [&] { return slot.done && slot.index == index; });
    --pass_waiting_;
    return slot.result;
  }

 private:
  // Small files take less time to hash than to hand over one by one: a
  // worker takes a few at a time.
  static constexpr std::size_t kBatch = 8;

  struct Slot {
    std::size_t index = 0;
    bool done = false;
    Result result;
  };

  // The pass holds job `index` now: the slots before it are free again.
  void Release(std::size_t index,
               std::unique_lock<std::mutex>* held = nullptr) {
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (held == nullptr) lock.lock();
    taken_ = index;
    if (workers_waiting_ > 0) work_.notify_all();
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ++workers_waiting_;
      work_.wait(lock, [&] {
        return stop_ || next_ >= count_ || next_ < taken_ + window_;
      });
      --workers_waiting_;
      if (stop_ || next_ >= count_) return;
      const std::size_t first = next_;
      const std::size_t last =
          std::min({first + kBatch, count_, taken_ + window_});
      next_ = last;
      for (std::size_t index = first; index < last; ++index) {
        slots_[index % window_].done = false;
        slots_[index % window_].index = index;
      }
      lock.unlock();
      for (std::size_t index = first; index < last && !stop_; ++index) {
        if (in_turn_ && in_turn_(index)) continue;  // the pass runs it
        Result& result = slots_[index % window_].result;
        result = Result();
        job_(index, &result, stop_);
      }
      lock.lock();
      for (std::size_t index = first; index < last; ++index) {
        slots_[index % window_].done = true;
      }
      if (pass_waiting_ > 0) ready_.notify_one();
    }
  }

  const std::size_t count_;
  const std::size_t window_;  // jobs claimed ahead of the pass, at most
  Job job_;
  InTurn in_turn_;
  std::vector<Slot> slots_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable work_;   // workers wait for room ahead
  std::condition_variable ready_;  // the pass waits for a result
  std::atomic<bool> stop_{false};
  std::size_t next_ = 0;   // the next job a worker may claim
  std::size_t taken_ = 0;  // the job the pass holds
  int workers_waiting_ = 0;
  int pass_waiting_ = 0;
};
