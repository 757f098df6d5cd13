#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "common/job_context.h"
#include "common/thread_starter.h"
#include "hash/read_ahead.h"
#include "platform/worker_context.h"

namespace hash {

// What one thread reuses from one file to the next: the read buffer and the
// backend's own state. The pipeline makes one per worker (and the run one
// for the pass) and hands it to each job; it is never shared between
// threads.
class HashContext : public common::JobContext {
 public:
  HashContext() : read_ahead_(*this) {}
  // Files are read in chunks of this size, which stay in the CPU's cache
  // from the copy to the hash (a chunk four times larger made the copies
  // out of the page cache a quarter of a run's CPU)...
  static constexpr std::uint32_t kChunkSize = 64 * 1024;
  // ...and where a helper reads ahead, in chunks of this size: hashing one
  // must outlast waking the helper, which on a virtual machine's idle CPU
  // can take as long as hashing 256 KiB.
  static constexpr std::uint32_t kAheadChunkSize = 512 * 1024;

  platform::WorkerContext& Platform() { return platform_; }
  // The chunk buffer, allocated on first use; null where no memory could be
  // had (blocks are then read one by one).
  std::uint8_t* Chunk();
  // The helper that reads ahead, started, with its two chunks of
  // kAheadChunkSize in buffers; null where the run allows none, or it
  // cannot start.
  ReadAhead* StartHelper(std::uint8_t* buffers[2]);

  // Where the bytes hashed are counted (the run's progress), once, before
  // the first file.
  void CountBytesIn(std::shared_ptr<std::atomic<std::uint64_t>> counter) {
    bytes_ = std::move(counter);
  }
  void CountBytes(std::uint64_t bytes) {
    if (bytes_) bytes_->fetch_add(bytes, std::memory_order_relaxed);
  }
  // Large files are read ahead on a helper that `start` starts; none by
  // default.
  void ReadAheadWith(common::ThreadStarter start) { start_ = std::move(start); }
  // The files the run's threads hash at once, counted in `hashing`: a
  // helper reads ahead only while fewer than `cpus` are, since where every
  // CPU hashes a file of its own it only adds its copies and hand-overs.
  void ShareCpus(std::shared_ptr<std::atomic<unsigned>> hashing,
                 unsigned cpus) {
    hashing_ = std::move(hashing);
    cpus_ = cpus;
  }

  // One file hashed on this thread, counted while it lives.
  class OneFile {
   public:
    explicit OneFile(const HashContext& context)
        : hashing_(context.hashing_.get()) {
      if (hashing_ != nullptr) hashing_->fetch_add(1);
    }
    ~OneFile() {
      if (hashing_ != nullptr) hashing_->fetch_sub(1);
    }
    OneFile(const OneFile&) = delete;
    OneFile& operator=(const OneFile&) = delete;

   private:
    std::atomic<unsigned>* const hashing_;
  };

 private:
  std::shared_ptr<std::atomic<std::uint64_t>> bytes_;
  common::ThreadStarter start_;                     // none: no helper
  std::shared_ptr<std::atomic<unsigned>> hashing_;  // none: not counted
  unsigned cpus_ = 0;
  platform::WorkerContext platform_;
  std::unique_ptr<std::uint8_t[]> chunk_;
  ReadAhead read_ahead_;  // ends before the chunk it may read into goes
};

}  // namespace hash
