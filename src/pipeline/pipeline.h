#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <utility>

#include "common/job_context.h"
#include "pipeline/crew.h"
#include "pipeline/pipeline_state.h"
#include "pipeline/threads.h"

namespace pipeline {

// Runs the jobs 0, 1, 2, ... of one pass on worker threads ahead of the
// pass, and hands their results over strictly in order: the pass sees what
// one thread would have seen, only sooner.
//
// Words: the pass is the one thread that takes the results in order; a job
// runs in turn when the pass runs it itself (one the pass may write first,
// one a worker left to it, one nobody had claimed yet); ahead is on a
// worker, or on the pass while its own index is still being hashed, before
// the pass reaches it; a claim is the indexes one worker (or the pass) takes
// at once; the window is how far past the pass claims may reach.
//
// Rules:
// - An index is claimed, under the lock, only inside the window, so its
//   slot is free. The slot is its claimer's until it publishes the slot's
//   state (release), then the pass's until the pass moves past it.
// - The pass waits for its own index only. Where the workers alone leave a
//   CPU free, only once there is nothing left to claim ahead: until then it
//   hashes ahead as a worker does, so that the threads at work are the
//   threads that hash, one per CPU. Where they do not, it never hashes
//   ahead: a worker holding the next result, set aside by the system,
//   would wait for whatever file the pass had started.
// - A job that must run in turn is never claimed by a worker.
// - The run has one stop (common::Stop), shared with whoever made the run.
//   Whoever ends the run asks for it: a cancel, the pass at a failure, the
//   pass's end (End). Jobs read it after each call that may block (their
//   context's Stopped), every wait here registers with it and ends at it
//   (none polls), and no job starts after it: Take then gives nothing.
// - A worker stuck in a call that may block is left to the kernel: what a
//   job touches after such a call (its slot, its context, the job and what
//   it holds) is kept alive by shared ownership.
//
// Threads: Stop and Stopped from any thread; the rest on the pass's only.
template <typename Result, typename Context>
class Pipeline {
 public:
  // `ahead`: before the pass's turn (on a worker, or on the pass while it
  // would wait), where the job may leave the index to the pass; in turn a
  // job must end with a result (kDone).
  using Job = std::function<JobEnd(std::size_t index, Context& context,
                                   Result* result, bool ahead)>;
  using InTurn = std::function<bool(std::size_t index)>;
  // Readies each context, the pass's and each worker's, before any job.
  using Prepare = std::function<void(Context&)>;

  // `stop`: the run's, or one of the pipeline's own where none is given.
  Pipeline(std::size_t count, const Threads& threads, Job job, InTurn in_turn,
           const Prepare& prepare = nullptr,
           std::shared_ptr<common::Stop> stop = nullptr)
      : shared_(std::make_shared<Shared>(
            count, threads, std::move(job), std::move(in_turn),
            stop ? std::move(stop) : std::make_shared<common::Stop>())),
        helps_(threads.workers <= threads.cpus),
        first_(helps_ && threads.workers > 1 && count > 0 ? 1 : 0) {
    {
      const common::Lock lock(shared_->mutex);
      shared_->next = first_;
    }
    if (prepare) prepare(pass_context_);
    pass_context_.ReadStop(shared_->stop.get(), nullptr);
    // Where the pass hashes ahead too while it would wait: one thread fewer.
    const std::size_t wanted = threads.workers <= 1 ? 0
                               : helps_             ? threads.workers - 1
                                                    : threads.workers;
    // Memory that runs out while the crew starts lets the workers started
    // go before it is thrown on.
    try {
      StartWorkers(std::min(wanted, count), threads, prepare);
    } catch (...) {
      End();
      throw;
    }
  }
  ~Pipeline() { End(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  unsigned Workers() const { return static_cast<unsigned>(crew_.Size()); }

  // The result of job `index`, the next in order, valid until the next
  // call; null once the run is stopped. Throws std::bad_alloc, on the pass's
  // thread, once a worker's job found no memory.
  Result* Take(std::size_t index) {
    Shared& s = *shared_;
    if (s.stop->Requested()) return nullptr;
    if (s.crew.Requested()) GoOnAlone();
    s.taken.store(index);  // the slots before it are free again
    // Workers wait for room for a claim each: told once there is.
    if (index % s.window.RoomStep() == 0 && s.workers_waiting.load() > 0) {
      const common::Lock lock(s.mutex);
      s.room.NotifyAll();
    }
    if (crew_.Size() == 0 || index < first_ ||
        (s.in_turn && s.in_turn(index))) {
      return RunHere(index);
    }
    Slot& slot = s.slots[index % s.window.Size()];
    while (!State::Published(slot, index)) {
      common::Lock lock(s.mutex);
      if (s.next <= index) {
        s.next = index + 1;  // no worker has it yet: the pass runs it
        lock.Unlock();
        return RunHere(index);
      }
      if (s.stop->Requested()) break;
      // Its claimer is at it: rather than wait, the pass hashes ahead as a
      // worker does, so that as many threads run as hash.
      if (helps_ && !s.Quit() && s.next < s.count &&
          s.window.HasRoom(s.next, index, s.count)) {
        const std::size_t claimed = State::Claim(s, help_batch_, help_claim_);
        lock.Unlock();
        help_batch_ = State::RunClaim(s, pass_context_, help_claim_, claimed,
                                      help_batch_);
        continue;
      }
      s.waiting_for.store(index);
      // Woken once per claim of short jobs, not once per job (waking costs
      // more than hashing a small file), or by the stop.
      while (!State::Published(slot, index) && !s.stop->Requested()) {
        s.ready.Wait(lock);
      }
      s.waiting_for.store(State::kNone);
      break;
    }
    if (s.stop->Requested()) return nullptr;
    if (s.out_of_memory.load()) throw std::bad_alloc();
    if (s.crew.Requested()) GoOnAlone();
    if (slot.state.load(std::memory_order_acquire) == State::kDone) {
      return &slot.result;
    }
    return RunHere(index);
  }

  // Runs job `index` again, on the pass: once GoOnAlone has freed what the
  // workers held. Null once the run is stopped.
  Result* Retake(std::size_t index) { return RunHere(index); }

  // Asks for the run's one stop. Any thread.
  void Stop() { shared_->stop->Request(); }
  bool Stopped() const { return shared_->stop->Requested(); }

  // The pass is over: the stop is set and the workers let go, before any
  // box shows.
  void End() {
    Stop();
    crew_.LetGo(kPatience);
  }

  // The pass found no descriptor free: the workers let theirs go, and the
  // rest runs as one pass.
  void GoOnAlone() {
    shared_->crew.Request();
    crew_.LetGo(kPatience);
  }

 private:
  using State = detail::State<Result, Context>;
  using Shared = typename State::Fields;
  using Slot = typename State::Slot;
  using Worker = typename State::Worker;
  static constexpr std::chrono::milliseconds kPatience = State::kPatience;

  // Up to `wanted` workers, each with its own context.
  void StartWorkers(std::size_t wanted, const Threads& threads,
                    const Prepare& prepare) {
    Shared& s = *shared_;
    for (std::size_t i = 0; i < wanted; ++i) {
      auto worker = std::make_shared<Worker>();
      if (prepare) prepare(worker->context);
      worker->context.ReadStop(&s.crew, crew_.Blocked());
      std::shared_ptr<Shared> shared = shared_;
      // The thread holds both: a worker left in a read outlives the run.
      std::function<void()> body = [shared, worker] {
        State::Work(*shared, *worker);
      };
      if (!crew_.Start(threads.start, std::move(body),
                       std::shared_ptr<const std::atomic<bool>>(
                           worker, &worker->context.InBlockingCall()))) {
        break;
      }
    }
  }

  Result* RunHere(std::size_t index) {
    pass_result_ = Result{};
    shared_->job(index, pass_context_, &pass_result_, false);
    return shared_->stop->Requested() ? nullptr : &pass_result_;
  }

  const std::shared_ptr<Shared> shared_;
  // Whether the pass hashes ahead while it would wait: only where the
  // workers alone leave a CPU free.
  const bool helps_;
  // Where the pass hashes too, it runs the first job itself, no worker
  // claims it: the pass is running while the workers start, and a first
  // small file is then told at once, never behind a large one the pass
  // would hash ahead while a worker had the small one.
  const std::size_t first_;
  Crew crew_;
  Context pass_context_;
  Result pass_result_{};
  // The pass's own claim while it hashes ahead, and its next batch.
  std::size_t help_claim_[ClaimWindow::kBatch] = {};
  std::size_t help_batch_ = 1;
};

}  // namespace pipeline
