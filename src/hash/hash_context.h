#pragma once

#include <cstdint>
#include <memory>

#include "hash/read_ahead.h"
#include "pipeline/job_context.h"
#include "platform/worker_context.h"

// What one thread reuses from one file to the next: the read buffer and the
// backend's own state. The pipeline makes one per worker (and the run one
// for the pass) and hands it to each job; it is never shared between
// threads.
class HashContext : public pipeline::JobContext {
 public:
  // Large files are read in chunks of this size.
  static constexpr std::uint32_t kChunkSize = 256 * 1024;

  platform::WorkerContext& Platform() { return platform_; }
  // The chunk buffer, allocated on first use; null where no memory could be
  // had (blocks are then read one by one).
  std::uint8_t* Chunk();
  // The helper that reads ahead, started, with its second chunk in
  // *second; null where the run allows none, or it cannot start.
  ReadAhead* StartHelper(std::uint8_t** second);

 private:
  platform::WorkerContext platform_;
  std::unique_ptr<std::uint8_t[]> chunk_;
  ReadAhead read_ahead_;  // ends before the chunk it may read into goes
};
