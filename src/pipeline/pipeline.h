#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>

#include "pipeline/claim_window.h"
#include "pipeline/crew.h"
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

// Runs the jobs 0, 1, 2, ... of one pass on worker threads ahead of the
// pass, and hands their results over strictly in order: the pass sees what
// one thread would have seen, only sooner.
//
// Words: the pass is the one thread that takes the results in order; a job
// runs in turn when the pass runs it itself (one the pass may write first,
// one a worker left to it, one nobody had claimed yet); ahead is on a
// worker, before the pass reaches it; a claim is the indexes one worker
// takes at once; the window is how far past the pass claims may reach.
//
// Rules:
// - An index is claimed, under the lock, only inside the window, so its
//   slot is free. The slot is its claimer's until it publishes the slot's
//   state (release), then the pass's until the pass moves past it.
// - The pass waits for its own index only.
// - A job that must run in turn is never claimed by a worker.
// - The run has one stop. Whoever ends the run sets it (Stop): a cancel,
//   the pass at a failure, the pass's end (End). Jobs read it after each
//   call that may block (their context's Stopped), the pass's waits end at
//   it, and no job starts after it: Take then gives nothing.
// - A worker stuck in a call that may block is left to the kernel: what a
//   job touches after such a call (its slot, its context, the job and what
//   it holds) is kept alive by shared ownership.
//
// Threads: Stop and Stopped from any thread; the rest on the pass's only.
template <typename Result, typename Context>
class Pipeline {
 public:
  // `ahead`: on a worker, which may leave the index to the pass; in turn a
  // job must end with a result (kDone).
  using Job = std::function<JobEnd(std::size_t index, Context& context,
                                   Result* result, bool ahead)>;
  using InTurn = std::function<bool(std::size_t index)>;
  // Readies each context, the pass's and each worker's, before any job.
  using Prepare = std::function<void(Context&)>;

  Pipeline(std::size_t count, const Threads& threads, Job job, InTurn in_turn,
           const Prepare& prepare = nullptr)
      : shared_(std::make_shared<Shared>(count, threads, std::move(job),
                                         std::move(in_turn))) {
    Shared& s = *shared_;
    if (prepare) prepare(pass_context_);
    pass_context_.ReadStops(&s.stop, nullptr);
    const std::size_t wanted = threads.workers > 1 ? threads.workers : 0;
    for (std::size_t i = 0; i < wanted && i < count; ++i) {
      auto worker = std::make_shared<Worker>();
      if (prepare) prepare(worker->context);
      worker->context.ReadStops(&s.stop, &s.alone);
      std::shared_ptr<Shared> shared = shared_;
      // The thread holds both: a worker left in a read outlives the run.
      std::function<void()> body = [shared, worker] { Work(*shared, *worker); };
      if (!crew_.Start(threads.start, std::move(body),
                       std::shared_ptr<const std::atomic<bool>>(
                           worker, &worker->context.InBlockingCall()))) {
        break;
      }
    }
  }
  ~Pipeline() { End(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  unsigned Workers() const { return static_cast<unsigned>(crew_.Size()); }

  // The result of job `index`, the next in order, valid until the next
  // call; null once the run is stopped.
  Result* Take(std::size_t index) {
    Shared& s = *shared_;
    if (s.alone.load()) GoOnAlone();
    if (s.stop.load()) return nullptr;
    s.taken.store(index);  // the slots before it are free again
    // Workers wait for room for a claim each: told once there is.
    if (index % s.window.RoomStep() == 0 && s.workers_waiting.load() > 0) {
      const std::lock_guard<std::mutex> lock(s.mutex);
      s.room.notify_all();
    }
    if (crew_.Size() == 0 || (s.in_turn && s.in_turn(index))) {
      return RunHere(index);
    }
    Slot& slot = s.slots[index % s.window.Size()];
    if (!Published(slot, index)) {
      std::unique_lock<std::mutex> lock(s.mutex);
      if (s.next <= index) {
        s.next = index + 1;  // no worker has it yet: the pass runs it
        lock.unlock();
        return RunHere(index);
      }
      s.waiting_for.store(index);
      // Woken once per claim of short jobs, not once per job (waking costs
      // more than hashing a small file): it looks again every kRecheck.
      while (!s.ready.wait_for(lock, kRecheck, [&] {
        return Published(slot, index) || s.stop.load();
      })) {
      }
      s.waiting_for.store(kNone);
    }
    if (s.stop.load()) return nullptr;
    if (s.alone.load()) GoOnAlone();
    if (slot.state.load(std::memory_order_acquire) == kDone) {
      return &slot.result;
    }
    return RunHere(index);
  }

  // Runs job `index` again, on the pass: once GoOnAlone has freed what the
  // workers held. Null once the run is stopped.
  Result* Retake(std::size_t index) { return RunHere(index); }

  // Sets the run's one stop. Any thread.
  void Stop() {
    Shared& s = *shared_;
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.stop.store(true);
    s.room.notify_all();
    s.ready.notify_all();
  }
  bool Stopped() const { return shared_->stop.load(); }

  // The pass is over: the stop is set and the workers let go, before any
  // box shows.
  void End() {
    Stop();
    crew_.LetGo(kPatience);
  }

  // The pass found no descriptor free: the workers let theirs go, and the
  // rest runs as one pass.
  void GoOnAlone() {
    Shared& s = *shared_;
    {
      const std::lock_guard<std::mutex> lock(s.mutex);
      s.alone.store(true);
      s.room.notify_all();
    }
    crew_.LetGo(kPatience);
  }

 private:
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  static constexpr std::chrono::microseconds kShortJob{100};
  static constexpr std::chrono::milliseconds kRecheck{1};
  static constexpr std::chrono::milliseconds kPatience{200};
  static constexpr int kClaimed = 0;
  static constexpr int kDone = 1;
  static constexpr int kLeft = 2;  // left to the pass

  // One index's place while a worker has it. `index` and `state` are set by
  // the claimer under the mutex; `result` is written by the claimer alone
  // until it publishes `state` (release); the pass reads it after seeing
  // that (acquire).
  struct Slot {
    std::atomic<std::size_t> index{kNone};
    std::atomic<int> state{kClaimed};
    Result result{};
  };

  struct Shared {
    Shared(std::size_t count_in, const Threads& threads, Job job_in,
           InTurn in_turn_in)
        : count(count_in),
          window(threads.workers > 1 ? threads.workers : 0),
          job(std::move(job_in)),
          in_turn(std::move(in_turn_in)),
          slots(new Slot[window.Size()]) {}

    bool Quit() const { return stop.load() || alone.load(); }

    // Set at construction, read by all.
    const std::size_t count;
    const ClaimWindow window;
    const Job job;
    const InTurn in_turn;
    const std::unique_ptr<Slot[]> slots;

    std::mutex mutex;
    // Workers wait here for room ahead: the pass notifies, under the mutex.
    std::condition_variable room;
    // The pass waits here for its index: its claimer notifies, under the
    // mutex, as does Stop.
    std::condition_variable ready;
    // The next index to claim: workers and the pass, under the mutex.
    std::size_t next = 0;
    // The index the pass holds: the pass alone writes it.
    std::atomic<std::size_t> taken{0};
    // The index the pass waits for: the pass writes it under the mutex;
    // workers read it without, to know whether to wake the pass.
    std::atomic<std::size_t> waiting_for{kNone};
    // Workers waiting for room: they write it under the mutex; the pass
    // reads it without, to know whether to wake them.
    std::atomic<int> workers_waiting{0};
    // The run's one stop: set once, under the mutex, by any thread.
    std::atomic<bool> stop{false};
    // The workers' own stop, the pass going on alone: set once, under the
    // mutex by the pass, or by a worker that found no descriptor free.
    std::atomic<bool> alone{false};
  };

  struct Worker {
    Context context;
  };

  static bool Published(const Slot& slot, std::size_t index) {
    return slot.index.load(std::memory_order_acquire) == index &&
           slot.state.load(std::memory_order_acquire) != kClaimed;
  }

  static void Work(Shared& s, Worker& worker) {
    std::size_t claim[ClaimWindow::kBatch];
    std::size_t batch = 1;
    for (;;) {
      std::size_t claimed = 0;
      {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.workers_waiting.fetch_add(1);
        s.room.wait(lock, [&] {
          return s.Quit() || s.window.HasRoom(s.next, s.taken.load(), s.count);
        });
        s.workers_waiting.fetch_sub(1);
        if (s.Quit() || s.next >= s.count) break;
        const std::size_t end =
            s.window.ClaimEnd(s.next, batch, s.taken.load(), s.count);
        for (std::size_t index = s.next; index < end; ++index) {
          if (s.in_turn && s.in_turn(index)) continue;  // the pass's
          Slot& slot = s.slots[index % s.window.Size()];
          slot.state.store(kClaimed, std::memory_order_relaxed);
          slot.index.store(index, std::memory_order_release);
          claim[claimed++] = index;
        }
        s.next = end;
      }
      bool short_jobs = true;
      for (std::size_t k = 0; k < claimed; ++k) {
        const std::size_t index = claim[k];
        Slot& slot = s.slots[index % s.window.Size()];
        JobEnd end = JobEnd::kToThePass;
        const auto began = std::chrono::steady_clock::now();
        if (!s.Quit()) {
          slot.result = Result{};
          end = s.job(index, worker.context, &slot.result, true);
        }
        if (end == JobEnd::kOutOfHandles) {
          const std::lock_guard<std::mutex> lock(s.mutex);
          s.alone.store(true);
          s.room.notify_all();
        }
        slot.state.store(end == JobEnd::kDone ? kDone : kLeft,
                         std::memory_order_release);
        const bool short_job =
            std::chrono::steady_clock::now() - began <= kShortJob;
        short_jobs = short_jobs && short_job;
        if (s.waiting_for.load() <= index && (k + 1 == claimed || !short_job)) {
          const std::lock_guard<std::mutex> lock(s.mutex);
          s.ready.notify_one();
        }
      }
      batch = ClaimWindow::NextBatch(batch, short_jobs);
    }
  }

  Result* RunHere(std::size_t index) {
    pass_result_ = Result{};
    shared_->job(index, pass_context_, &pass_result_, false);
    return shared_->stop.load() ? nullptr : &pass_result_;
  }

  const std::shared_ptr<Shared> shared_;
  Crew crew_;
  Context pass_context_;
  Result pass_result_{};
};

}  // namespace pipeline
