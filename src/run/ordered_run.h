#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "common/mutex.h"
#include "common/stop.h"
#include "hash/hash_context.h"
#include "pipeline/pipeline.h"

namespace run {

// What a progress window reads while the run goes on; no lock. The pass
// writes `files_done`; every hashing thread adds to `bytes_done`.
struct Counters {
  std::atomic<std::uint64_t> bytes_done{0};
  std::atomic<std::size_t> files_done{0};
};

// What a run has so far (the report, the digest files written): the pass
// adds to it; the desktop's thread takes it once the pass is over, or left
// inside a call that does not return. After that the pass adds nothing.
// Threads: any; one lock, held only for the copy or the addition.
template <typename Value>
class SoFar {
 public:
  // Changes the value unless it was taken; false where it was.
  template <typename Change>
  bool Add(Change change) {
    const common::Lock lock(mutex_);
    if (taken_) return false;
    change(value_);
    return true;
  }
  // The value, moved out once: a report may be megabytes.
  Value Take() {
    const common::Lock lock(mutex_);
    taken_ = true;
    return std::move(value_);
  }

 private:
  common::Mutex mutex_;
  Value value_ GUARDED_BY(mutex_){};
  bool taken_ GUARDED_BY(mutex_) = false;
};

// One ordered run: the jobs hashed ahead on the workers, their results
// taken in order by the pass, the run's one stop and its counters. The run
// that owns it shares it with the pass's thread, which may outlive the
// desktop's wait in a read.
//
// The threads of a run, in the order they start:
// 1. the desktop's thread starts the pass's, shows the progress window
//    (its Cancel sets the stop) and, once the pass is over or left inside
//    a call after a cancel, takes what the run has so far and shows the
//    one box;
// 2. the pass's thread lists the items, then takes each item's result in
//    order and writes the digest file or appends the report line; while
//    the item it needs is still being hashed it hashes items ahead as a
//    worker does, so that no more threads run than hash; at a failure, or
//    its end, it asks for the stop and lets the workers go before it
//    leaves; in a verification, where more than one file is hashed at
//    once, the folder is listed on a thread of its own while the pass reads
//    the first digest files;
// 3. the workers hash items ahead of the pass, a claim at a time, and stop
//    after the call in hand once the stop is set;
// 4. each hashing thread's read-ahead helper reads a large file's next
//    chunk, and reads nothing once its owner's job is stopped;
// 5. once the window shows, a sizer adds up the items' sizes from their
//    metadata, one item at a time, giving way to the workers.
// Threads: Stop from any thread; the rest on the pass's.
template <typename Result>
class OrderedRun {
 public:
  using Pipeline = pipeline::Pipeline<Result, hash::HashContext>;

  // `stop`: the run's one stop, the stage's.
  OrderedRun(std::size_t count, const pipeline::Threads& threads,
             typename Pipeline::Job job, typename Pipeline::InTurn in_turn,
             std::shared_ptr<common::Stop> stop)
      : counters_(std::make_shared<Counters>()),
        hashing_(std::make_shared<std::atomic<unsigned>>(0)),
        pipeline_(
            count, threads, std::move(job), std::move(in_turn),
            [this, threads](hash::HashContext& context) {
              if (threads.read_ahead) {
                context.ReadAheadWith(threads.start);
                context.ShareCpus(hashing_, threads.cpus);
              }
              context.CountBytesIn(std::shared_ptr<std::atomic<std::uint64_t>>(
                  counters_, &counters_->bytes_done));
            },
            std::move(stop)) {}

  // Item `index`'s result, in order; null once the run is stopped.
  Result* Take(std::size_t index) {
    counters_->files_done.store(index, std::memory_order_relaxed);
    return pipeline_.Take(index);
  }
  // Every item is done: the window shows no name while the run ends.
  void AllTaken(std::size_t count) {
    counters_->files_done.store(count, std::memory_order_relaxed);
  }
  void Stop() { pipeline_.Stop(); }
  bool Stopped() const { return pipeline_.Stopped(); }
  // The pass is over: no job starts, and the workers are gone or left to
  // the kernel, before any box.
  void End() { pipeline_.End(); }
  // The pass's own open found no descriptor free: where workers held some,
  // they let them go, and the pass may try again (true).
  bool FreeDescriptors() {
    if (pipeline_.Workers() == 0) return false;
    pipeline_.GoOnAlone();
    return true;
  }
  // Item `index` again, on the pass, after FreeDescriptors.
  Result* Retake(std::size_t index) { return pipeline_.Retake(index); }
  // Item `index`'s `result`, or where it found no descriptor free
  // (OutOfHandles) while workers held some, the item again once they let
  // them go. Null stays null: the run is stopped.
  const Result* RetakeFreed(std::size_t index, const Result* result) {
    if (result == nullptr || !result->OutOfHandles() || !FreeDescriptors()) {
      return result;
    }
    return Retake(index);
  }
  std::shared_ptr<const Counters> SharedCounters() const { return counters_; }

 private:
  const std::shared_ptr<Counters> counters_;
  // The files hashed at once on all of the run's threads.
  const std::shared_ptr<std::atomic<unsigned>> hashing_;
  Pipeline pipeline_;
};

}  // namespace run
