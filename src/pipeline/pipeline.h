#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "common/out_of_memory.h"
#include "pipeline/job_context.h"
#include "pipeline/threads.h"

namespace pipeline {

// How a job ended on a worker.
enum class JobEnd {
  kDone,          // its result is ready for the pass
  kToThePass,     // the pass runs it in its turn (a stop, a link, ...)
  kOutOfHandles,  // the same, and the workers stop and let their
                  // descriptors go: the rest runs as one pass
};

// What progress reads while the run goes on; no lock.
struct Progress {
  std::atomic<std::uint64_t> bytes_done{0};
  std::atomic<std::size_t> files_done{0};  // handed over to the pass
};

// Runs the jobs 0, 1, 2, ... of one pass on worker threads, a bounded number
// ahead of the pass, and hands their results over strictly in order: the
// pass sees what one thread would have seen, only sooner.
//
// The rules, each plain to check:
// - A slot belongs to one index from its claim (under the lock) until the
//   pass has moved past it; an index is claimed only while it is less than
//   the pass's index plus the window, so its slot is free.
// - Only the job that computed a result publishes it (the slot's state, an
//   atomic); the pass waits for its own index only, and is woken only when
//   it waits (once a claim of short jobs is done, or its own long one).
// - A job that must run in turn (one the pass itself may write) is never
//   claimed by a worker; the pass runs it into a result of its own, as it
//   runs a job a worker left to it, or one not claimed yet.
// - The pass's context may be stopped (a cancelled run): a pass that
//   waits then stops the workers, and the results it takes are to be
//   dropped.
// - A stop sets `stop`, which jobs check after each call that may block,
//   and waits for each worker to end, or to stay inside such a call beyond
//   a moment; a worker stuck there is left to the kernel (detached). What a job
//   touches after such a call (its slot, its context, the job and what it
//   holds) is kept alive by shared ownership.
//
// Context: a JobContext, default-constructible; one per worker, and the
// pass's own, lent by the run.
template <typename Result, typename Context>
class Pipeline {
 public:
  // `stop` is null where the job runs on the pass, in its turn; there it
  // must end with a result (kDone). On a worker, *stop turns true once the
  // pass no longer wants the result.
  using Job =
      std::function<JobEnd(std::size_t index, Context& context, Result* result,
                           const std::atomic<bool>* stop)>;
  using InTurn = std::function<bool(std::size_t index)>;

  Pipeline(std::size_t count, const Threads& threads, Job job, InTurn in_turn,
           Context& pass_context)
      : shared_(std::make_shared<Shared>(count, threads, std::move(job),
                                         std::move(in_turn))),
        pass_context_(pass_context) {
    pass_context_.CountBytesIn(&shared_->progress.bytes_done);
    pass_context_.UseThreads(&shared_->threads);
    const unsigned wanted = threads.workers > 1
                                ? static_cast<unsigned>(std::min<std::size_t>(
                                      threads.workers, count))
                                : 0;
    for (unsigned i = 0; i < wanted; ++i) {
      auto worker = std::make_shared<Worker>();
      worker->context.CountBytesIn(&shared_->progress.bytes_done);
      worker->context.UseThreads(&shared_->threads);
      std::shared_ptr<Shared> shared = shared_;
      // The thread holds both: a worker left in a read outlives the run.
      std::function<void()> body = [shared, worker] { Work(*shared, *worker); };
      if (!threads.start(std::move(body), &worker->thread)) break;
      workers_.push_back(std::move(worker));
    }
  }
  ~Pipeline() { StopWorkers(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  unsigned Workers() const { return static_cast<unsigned>(workers_.size()); }
  // What progress reads, for a reader that may outlast the pipeline by a
  // moment.
  std::shared_ptr<const Progress> SharedProgress() const {
    return std::shared_ptr<const Progress>(shared_, &shared_->progress);
  }

  // The result of job `index`, the next in order; valid until the next call.
  // Throws std::bad_alloc, on the pass's thread, once a worker's job found
  // no memory.
  Result& Take(std::size_t index) {
    Shared& s = *shared_;
    s.progress.files_done.store(index, std::memory_order_relaxed);
    s.taken.store(index);  // the slots before it are free again
    // Workers wait for room for a claim each: told once there is.
    if (index % s.room_step == 0 && s.workers_waiting.load() > 0) {
      const std::lock_guard<std::mutex> lock(s.mutex);
      s.room.notify_all();
    }
    if (workers_.empty() || (s.in_turn && s.in_turn(index))) {
      return RunHere(index);
    }
    Slot& slot = s.slots[index % s.window];
    if (!Published(slot, index)) {
      std::unique_lock<std::mutex> lock(s.mutex);
      if (s.next <= index) {
        s.next = index + 1;  // no worker has it yet: the pass runs it
        lock.unlock();
        return RunHere(index);
      }
      if (!Published(slot, index)) {
        s.waiting_for.store(index);
        while (!s.ready.wait_for(lock, kRecheck,
                                 [&] { return Published(slot, index); })) {
          // A cancelled run's workers give up their files too.
          if (pass_context_.Stopped()) s.stop.store(true);
        }
        s.waiting_for.store(kNone);
      }
    }
    if (s.out_of_handles.load()) StopWorkers();
    if (s.out_of_memory.load()) throw std::bad_alloc();
    if (slot.state.load(std::memory_order_acquire) == kDone) return slot.result;
    return RunHere(index);
  }

 private:
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  // Small files take less time to hash than to claim and hand over one by
  // one: a worker whose jobs are short claims more at a time, doubling up
  // to kBatch, and one whose job was long goes back to one, so that large
  // files spread over the workers.
  static constexpr std::size_t kBatch = 32;
  static constexpr std::chrono::microseconds kShortJob{100};
  static constexpr std::chrono::milliseconds kRecheck{1};
  static constexpr std::chrono::milliseconds kPatience{200};
  static constexpr int kClaimed = 0;
  static constexpr int kDone = 1;
  static constexpr int kLeft = 2;  // left to the pass

  struct Slot {
    std::atomic<std::size_t> index{kNone};
    std::atomic<int> state{kClaimed};
    Result result{};
  };

  struct Shared {
    Shared(std::size_t count_in, const Threads& threads_in, Job job_in,
           InTurn in_turn_in)
        : count(count_in),
          threads(threads_in),
          window(threads.workers > 1 ? 2 * kBatch * threads.workers : 1),
          room_step(std::max<std::size_t>(1, window / 2)),
          job(std::move(job_in)),
          in_turn(std::move(in_turn_in)),
          slots(new Slot[window]) {}

    bool Quit() const {
      return stop.load() || out_of_handles.load() || out_of_memory.load();
    }

    const std::size_t count;
    const Threads threads;
    const std::size_t window;  // indexes claimed ahead of the pass, at most
    // Waiting workers go on once this much room is free: a claim for each.
    const std::size_t room_step;
    const Job job;
    const InTurn in_turn;
    const std::unique_ptr<Slot[]> slots;
    std::mutex mutex;
    std::condition_variable room;       // workers wait for room ahead
    std::condition_variable ready;      // the pass waits for its index
    std::size_t next = 0;               // the next index to claim; the mutex's
    std::atomic<std::size_t> taken{0};  // the index the pass holds
    std::atomic<std::size_t> waiting_for{kNone};
    std::atomic<int> workers_waiting{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> out_of_handles{false};
    std::atomic<bool> out_of_memory{false};  // a worker's job found none
    Progress progress;
  };

  struct Worker {
    std::thread thread;
    Context context;
    std::atomic<bool> finished{false};
  };

  static bool Published(const Slot& slot, std::size_t index) {
    return slot.index.load(std::memory_order_acquire) == index &&
           slot.state.load(std::memory_order_acquire) != kClaimed;
  }

  static void Work(Shared& s, Worker& worker) {
    std::size_t claim[kBatch];
    std::size_t batch = 1;
    for (;;) {
      std::size_t claimed = 0;
      {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.workers_waiting.fetch_add(1);
        s.room.wait(lock, [&] {
          return s.Quit() || s.next >= s.count ||
                 s.next + std::min(s.room_step, s.count - s.next) <=
                     s.taken.load() + s.window;
        });
        s.workers_waiting.fetch_sub(1);
        if (s.Quit() || s.next >= s.count) break;
        const std::size_t end =
            std::min({s.next + batch, s.count, s.taken.load() + s.window});
        for (std::size_t index = s.next; index < end; ++index) {
          if (s.in_turn && s.in_turn(index)) continue;  // the pass's
          Slot& slot = s.slots[index % s.window];
          slot.state.store(kClaimed, std::memory_order_relaxed);
          slot.index.store(index, std::memory_order_release);
          claim[claimed++] = index;
        }
        s.next = end;
      }
      bool short_jobs = true;
      for (std::size_t k = 0; k < claimed; ++k) {
        const std::size_t index = claim[k];
        Slot& slot = s.slots[index % s.window];
        JobEnd end = JobEnd::kToThePass;
        const auto began = std::chrono::steady_clock::now();
        // A job that finds no memory is handed to the pass, which then
        // fails the run: thrown from this thread, it would end the process.
        if (!s.Quit() && !RunOrOutOfMemory([&] {
              slot.result = Result{};
              end = s.job(index, worker.context, &slot.result, &s.stop);
            })) {
          end = JobEnd::kToThePass;
          s.out_of_memory.store(true);
        }
        if (end == JobEnd::kOutOfHandles) s.out_of_handles.store(true);
        slot.state.store(end == JobEnd::kDone ? kDone : kLeft);
        const bool short_job =
            std::chrono::steady_clock::now() - began <= kShortJob;
        short_jobs = short_jobs && short_job;
        // A pass that waits for a short job's result is woken once for the
        // claim, not once per job: waking it costs more than hashing a small
        // file. It looks again by itself every kRecheck.
        if (s.waiting_for.load() <= index && (k + 1 == claimed || !short_job)) {
          const std::lock_guard<std::mutex> lock(s.mutex);
          s.ready.notify_one();
        }
      }
      batch = short_jobs ? std::min(kBatch, 2 * batch) : 1;
    }
    worker.finished.store(true);
  }

  Result& RunHere(std::size_t index) {
    pass_result_ = Result{};
    shared_->job(index, pass_context_, &pass_result_, nullptr);
    return pass_result_;
  }

  // Lets every worker go: joined where it ends, left to the kernel where it
  // is inside a call that may never return. Later jobs run on the pass.
  void StopWorkers() {
    if (workers_.empty()) return;
    Shared& s = *shared_;
    s.stop.store(true);
    {
      const std::lock_guard<std::mutex> lock(s.mutex);
      s.room.notify_all();
    }
    // A read in hand ends in a moment where the disk answers (a cancel
    // comes mid-read): only one that outlasts this is left to the kernel.
    const auto patience = std::chrono::steady_clock::now() + kPatience;
    for (const std::shared_ptr<Worker>& worker : workers_) {
      for (;;) {
        if (worker->finished.load()) {
          worker->thread.join();
          break;
        }
        if (worker->context.InBlockingCall().load() &&
            std::chrono::steady_clock::now() > patience) {
          worker->thread.detach();
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
    workers_.clear();  // a joined worker's context, and its descriptors, go
  }

  const std::shared_ptr<Shared> shared_;
  std::vector<std::shared_ptr<Worker>> workers_;
  Context& pass_context_;
  Result pass_result_{};
};

}  // namespace pipeline
