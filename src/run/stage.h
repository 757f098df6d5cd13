#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

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
  std::function<WideString(std::size_t)> name_at;
  // Item i's size, false where it cannot be had; read on a thread of its
  // own once the window shows, which may outlive the run in a call that
  // does not return: what it reads must be shared-owned.
  std::function<bool(std::size_t, std::uint64_t*)> size_of;
};

enum class Phase { kListing, kReadingLists, kHashing };

// Where a run stands from its start: the folder listed, the digest files
// read, then the items hashed; and the run's one stop, which the phase in
// hand obeys. Shared by the run's thread, which writes it, and the
// desktop's, which reads it.
// Threads: any; the counters take no lock, Hash and Stop one.
class Stage {
 public:
  std::atomic<std::size_t> listed{0};  // files listed, or digest files read
  std::atomic<std::size_t> lists{0};   // digest files to read
  std::atomic<std::uint64_t> list_bytes{0};  // of digest files, read
  std::atomic<std::uint64_t> list_bytes_all{0};
  std::atomic<std::size_t> records{0};  // read from digest files so far

  Phase Now() const { return phase_.load(std::memory_order_acquire); }
  void ReadLists() { phase_.store(Phase::kReadingLists); }
  // Hashing from now: the window reads `watch`, and a stop calls `stop`,
  // at once where the run is stopped already.
  void Hash(Watch watch, std::function<void()> stop) {
    const std::lock_guard<std::mutex> lock(mutex_);
    watch_ = std::move(watch);
    stop_ = std::move(stop);
    if (stopped_.load()) stop_();
    phase_.store(Phase::kHashing, std::memory_order_release);
  }
  // Once Now() is kHashing.
  const Watch& Hashed() const { return watch_; }

  void Stop() {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_.store(true);
    if (stop_) stop_();
  }
  bool Stopped() const { return stopped_.load(); }

 private:
  std::atomic<Phase> phase_{Phase::kListing};
  std::mutex mutex_;
  Watch watch_;
  std::function<void()> stop_;
  std::atomic<bool> stopped_{false};
};

}  // namespace run
