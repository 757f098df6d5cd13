#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "common/stop.h"
#include "common/wide_string.h"
#include "hash/crypt_provider.h"
#include "hash/hash_context.h"
#include "pipeline/job_end.h"
#include "pipeline/threads.h"
#include "progress/progress_texts.h"
#include "run/opened_readings.h"
#include "run/ordered_run.h"
#include "run/stage.h"

namespace run {

// A run's job as the pipeline runs it: with the run's provider, and its
// item's mark. Named rather than a lambda: the program's size.
template <typename Result, typename Job>
struct Marked {
  pipeline::JobEnd operator()(std::size_t i, hash::HashContext& context,
                              Result* result, bool on_worker) const {
    return job(*provider, i, context, opened->Mark(i), result, on_worker);
  }
  Job job;
  std::shared_ptr<hash::CryptProvider> provider;
  std::shared_ptr<OpenedReadings> opened;
};

// Item i's name under the reading that opened, none before.
template <typename NameOf>
struct Named {
  common::WideString operator()(std::size_t i) const {
    const std::uint8_t reading = opened->Which(i);
    return reading != 0 ? name_of(i, reading) : common::WideString();
  }
  std::shared_ptr<OpenedReadings> opened;
  NameOf name_of;
};

// What a creation and a verification have alike: their items hashed ahead
// and taken in order, which reading of each item's name opened, a share of
// the provider, and what the run has so far. Shared with the pass's thread
// and the workers, which may outlive the run in a read. Threads: as
// OrderedRun and SoFar say.
template <typename Result, typename Value>
struct ItemRun {
  // Item i's job, `job(provider, i, context, mark, result, on_worker)`:
  // `mark` is told each reading of its name as it opens. `stop`: the run's
  // one stop, the stage's.
  template <typename Job>
  ItemRun(std::size_t count, const pipeline::Threads& threads,
          hash::CryptProvider& provider_in, Job job,
          typename OrderedRun<Result>::Pipeline::InTurn in_turn,
          std::shared_ptr<common::Stop> stop)
      : items(count),
        // A share: a worker left in a read may outlive the run's own.
        provider(provider_in.Share()),
        opened(std::make_shared<OpenedReadings>(count)),
        ordered(count, threads,
                Marked<Result, Job>{std::move(job), provider, opened},
                std::move(in_turn), std::move(stop)) {}

  // Hashing from now: the window counts the items as `unit`, names item i
  // by `name_of(i, reading)` once a reading opened, none before, and sizes
  // each by `size_of` (read on a thread that may outlive the run: what it
  // reads is shared-owned).
  template <typename NameOf, typename SizeOf>
  void Watch(Stage& stage, progress::Unit unit, NameOf name_of,
             SizeOf size_of) const {
    run::Watch watch;
    watch.count = items;
    watch.unit = unit;
    watch.counters = ordered.SharedCounters();
    watch.name_at = Named<NameOf>{opened, std::move(name_of)};
    watch.size_of = std::move(size_of);
    stage.Hash(std::move(watch));
  }

  const std::size_t items;
  const std::shared_ptr<hash::CryptProvider> provider;
  const std::shared_ptr<OpenedReadings> opened;
  OrderedRun<Result> ordered;
  SoFar<Value> so_far;
};

}  // namespace run
