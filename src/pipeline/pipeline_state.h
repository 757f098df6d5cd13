#pragma once

// The pipeline's shared state and its workers' loop: what pipeline.h
// tells, written out.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <utility>

#include "common/mutex.h"
#include "common/out_of_memory.h"
#include "common/stop.h"
#include "pipeline/claim_window.h"
#include "pipeline/job_end.h"
#include "pipeline/threads.h"

namespace pipeline {

namespace detail {

template <typename Result, typename Context>
struct State {
  using Job = std::function<JobEnd(std::size_t index, Context& context,
                                   Result* result, bool ahead)>;
  using InTurn = std::function<bool(std::size_t index)>;

  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  static constexpr std::chrono::microseconds kShortJob{100};
  static constexpr std::chrono::milliseconds kPatience{200};
  static constexpr int kClaimed = 0;
  static constexpr int kDone = 1;
  static constexpr int kLeft = 2;  // left to the pass

  // One index's place while a worker has it. `index` and `state` are set by
  // the claimer under the mutex; `result` is written by the claimer alone
  // until it publishes `state`; the pass reads it after seeing that. The
  // publication and the pass's look before it waits are sequentially
  // consistent, as are `waiting_for`'s store and load: the claimer then
  // sees the pass waiting or the pass sees the slot published, never
  // neither (no wake-up is lost, and the pass needs no recheck).
  struct Slot {
    std::atomic<std::size_t> index{kNone};
    std::atomic<int> state{kClaimed};
    Result result{};
  };

  struct Fields {
    Fields(std::size_t count_in, const Threads& threads, Job job_in,
           InTurn in_turn_in, std::shared_ptr<common::Stop> stop_in)
        : count(count_in),
          window(threads.workers > 1 ? threads.workers : 0),
          job(std::move(job_in)),
          in_turn(std::move(in_turn_in)),
          slots(new Slot[window.Size()]),
          stop(std::move(stop_in)) {}

    // Whether the workers leave: the crew's stop (which follows the run's)
    // or a worker's job that found no memory.
    bool Quit() const { return crew.Requested() || out_of_memory.load(); }

    // Set at construction, read by all.
    const std::size_t count;
    const ClaimWindow window;
    const Job job;
    const InTurn in_turn;
    const std::unique_ptr<Slot[]> slots;

    common::Mutex mutex;
    // Workers wait here for room ahead: the pass notifies, under the mutex.
    common::CondVar room;
    // The pass waits here for its index: its claimer notifies, under the
    // mutex, as does Stop.
    common::CondVar ready;
    // The next index to claim: workers and the pass.
    std::size_t next GUARDED_BY(mutex) = 0;
    // The index the pass holds: the pass alone writes it.
    std::atomic<std::size_t> taken{0};
    // The index the pass waits for: the pass writes it under the mutex;
    // workers read it without, to know whether to wake the pass.
    std::atomic<std::size_t> waiting_for{kNone};
    // Workers waiting for room: they write it under the mutex; the pass
    // reads it without, to know whether to wake them.
    std::atomic<int> workers_waiting{0};
    // A worker's job found no memory: set once by that worker; the pass
    // then fails the run (thrown from a worker, it would end the process).
    std::atomic<bool> out_of_memory{false};
    // The run's one stop, asked for by any thread, never under the mutex.
    const std::shared_ptr<common::Stop> stop;
    // The workers' own stop: the pass going on alone (asked for by the pass,
    // or by a worker that found no descriptor free), and the run's stop.
    common::Stop crew;
    // Either stop wakes every wait here, the pass's and the workers'.
    common::StopCallback wakes{crew, [this] {
                                 const common::Lock lock(mutex);
                                 room.NotifyAll();
                                 ready.NotifyAll();
                               }};
    common::StopCallback crew_follows{*stop, [this] { crew.Request(); }};
  };

  struct Worker {
    Context context;
  };

  static bool Published(const Slot& slot, std::size_t index) {
    return slot.index.load(std::memory_order_acquire) == index &&
           slot.state.load() != kClaimed;
  }

  // Claims up to `batch` indexes from `next` inside the window, leaving out
  // those that run in turn, into `claim`; their count.
  static std::size_t Claim(Fields& s, std::size_t batch, std::size_t* claim)
      REQUIRES(s.mutex) {
    const std::size_t end =
        s.window.ClaimEnd(s.next, batch, s.taken.load(), s.count);
    std::size_t claimed = 0;
    for (std::size_t index = s.next; index < end; ++index) {
      if (s.in_turn && s.in_turn(index)) continue;  // the pass's
      Slot& slot = s.slots[index % s.window.Size()];
      slot.state.store(kClaimed, std::memory_order_relaxed);
      slot.index.store(index, std::memory_order_release);
      claim[claimed++] = index;
    }
    s.next = end;
    return claimed;
  }

  // Runs a claim ahead of the pass, on a worker or on the pass while it
  // would wait, and publishes each slot; the next batch.
  static std::size_t RunClaim(Fields& s, Context& context,
                              const std::size_t* claim, std::size_t claimed,
                              std::size_t batch) {
    bool short_jobs = true;
    // A job's end is the next one's start: one clock reading a job.
    auto began = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < claimed; ++k) {
      const std::size_t index = claim[k];
      Slot& slot = s.slots[index % s.window.Size()];
      JobEnd end = JobEnd::kToThePass;
      if (!s.Quit() && !common::RunOrOutOfMemory([&] {
            slot.result = Result{};
            end = s.job(index, context, &slot.result, true);
          })) {
        end = JobEnd::kToThePass;
        const common::Lock lock(s.mutex);
        s.out_of_memory.store(true);
        s.room.NotifyAll();
      }
      if (end == JobEnd::kOutOfHandles) s.crew.Request();
      slot.state.store(end == JobEnd::kDone ? kDone : kLeft);
      const auto ended = std::chrono::steady_clock::now();
      const bool short_job = ended - began <= kShortJob;
      began = ended;
      short_jobs = short_jobs && short_job;
      if (s.waiting_for.load() <= index && (k + 1 == claimed || !short_job)) {
        const common::Lock lock(s.mutex);
        s.ready.NotifyOne();
      }
    }
    return ClaimWindow::NextBatch(batch, short_jobs);
  }

  static void Work(Fields& s, Worker& worker) {
    std::size_t claim[ClaimWindow::kBatch];
    std::size_t batch = 1;
    for (;;) {
      std::size_t claimed = 0;
      {
        common::Lock lock(s.mutex);
        s.workers_waiting.fetch_add(1);
        while (!s.Quit() &&
               !s.window.HasRoom(s.next, s.taken.load(), s.count)) {
          s.room.Wait(lock);
        }
        s.workers_waiting.fetch_sub(1);
        if (s.Quit() || s.next >= s.count) break;
        claimed = Claim(s, batch, claim);
      }
      batch = RunClaim(s, worker.context, claim, claimed, batch);
    }
  }
};

}  // namespace detail
}  // namespace pipeline
