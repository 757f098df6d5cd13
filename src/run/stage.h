#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "common/stop.h"
#include "common/wide_string.h"
#include "progress/progress_texts.h"
#include "run/ordered_run.h"

namespace run {

// What a progress window reads of a run while its items are hashed.
struct Watch {
  std::size_t count = 0;  // the items of the pass: files, or records
  progress::Unit unit = progress::Unit::kFiles;
  std::shared_ptr<const Counters> counters;
  // The name of item i as it was opened (the reading the report names),
  // none until a thread has opened it; read on the desktop's thread while
  // the pass runs.
  std::function<common::WideString(std::size_t)> name_at;
  // Item i's size, false where it cannot be had; read on a thread of its
  // own once the window shows, which may outlive the run in a call that
  // does not return: what it reads must be shared-owned.
  std::function<bool(std::size_t, std::uint64_t*)> size_of;
};

enum class Phase { kListing, kReadingLists, kHashing };

// Where a run stands from its start: the folder listed, the digest files
// read, then the items hashed; and the run's one stop, which every phase
// and every wait of the run obeys. Shared by the run's thread, which writes
// it, and the desktop's, which reads it.
// Threads: any; no lock.
class Stage {
 public:
  std::atomic<std::size_t> listed{0};  // files listed, or digest files read
  std::atomic<std::size_t> lists{0};   // digest files to read
  std::atomic<std::uint64_t> list_bytes{0};  // of digest files, read
  std::atomic<std::size_t> records{0};       // read from digest files so far

  Phase Now() const { return phase_.load(std::memory_order_acquire); }
  void ReadLists() { phase_.store(Phase::kReadingLists); }
  // Hashing from now: the window reads `watch`.
  void Hash(Watch watch) {
    watch_ = std::move(watch);
    phase_.store(Phase::kHashing, std::memory_order_release);
  }
  // Once Now() is kHashing.
  const Watch& Hashed() const { return watch_; }
  // The digest files to read, all found: their count, and their sizes for
  // a window that shows while they are read. Told once.
  void Found(Watch lists) {
    this->lists.fetch_add(lists.count);
    lists_ = std::move(lists);
    found_.store(true, std::memory_order_release);
  }
  // Null until Found.
  const Watch* FoundLists() const {
    return found_.load(std::memory_order_acquire) ? &lists_ : nullptr;
  }

  // The run's one stop: a cancel, a failure or the pass's end asks for it.
  void Stop() { stop_->Request(); }
  bool Stopped() const { return stop_->Requested(); }
  // For what may outlive the run's stage or the call that made it.
  const std::shared_ptr<common::Stop>& SharedStop() const { return stop_; }

 private:
  std::atomic<Phase> phase_{Phase::kListing};
  // Written once by the run's thread, before `phase_` publishes it; read
  // after, with no lock.
  Watch watch_;
  // The same, by the thread that ends the walk, before `found_`.
  Watch lists_;
  std::atomic<bool> found_{false};
  const std::shared_ptr<common::Stop> stop_ = std::make_shared<common::Stop>();
};

}  // namespace run
