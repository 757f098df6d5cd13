#include "hash/hash_context.h"

#include <new>

namespace hash {

std::uint8_t* HashContext::Chunk() {
  if (!chunk_) chunk_.reset(new (std::nothrow) std::uint8_t[kChunkSize]);
  return chunk_.get();
}

ReadAhead* HashContext::StartHelper(std::uint8_t* buffers[2]) {
  if (hashing_ && hashing_->load() >= cpus_) return nullptr;
  return start_ && read_ahead_.Start(start_, kAheadChunkSize, buffers)
             ? &read_ahead_
             : nullptr;
}

}  // namespace hash
