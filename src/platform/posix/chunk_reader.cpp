#include "platform/posix/chunk_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

#include "platform/last_error.h"

namespace platform::posix {
namespace {

// Below this, a block or two of reads is the whole file.
constexpr std::uint64_t kChunkThreshold = std::uint64_t{1} << 20;
constexpr std::uint32_t kChunkSize = 256 * 1024;

// One buffer per thread, kept for the run: several workers each read a file.
// Null when no memory could be had; blocks are then read one by one.
std::uint8_t* ThreadChunk() {
  thread_local const std::unique_ptr<std::uint8_t[]> chunk(
      new (std::nothrow) std::uint8_t[kChunkSize]);
  return chunk.get();
}

}  // namespace

void ChunkReader::Start(int fd, std::uint64_t size) {
  fd_ = fd;
  chunked_ = size >= kChunkThreshold && ThreadChunk() != nullptr;
  size_at_open_ = size;
  done_ = 0;
  at_ = 0;
  end_ = 0;
  at_end_ = false;
}

// A short read that reaches the size the file had at open is its end: a
// further read, which would only see what was appended since, costs a system
// call per file, and a folder may hold many small files.
bool ChunkReader::ReadSome(std::uint8_t* into, std::uint32_t size,
                           std::uint32_t* read) {
  if (at_end_) {
    *read = 0;
    return true;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, into, size);
    if (got >= 0) {
      *read = static_cast<std::uint32_t>(got);
      done_ += *read;
      at_end_ = *read < size && done_ == size_at_open_;
      if (*read != 0 || done_ >= size_at_open_) return true;
      SetLastErrorCode(EIO);  // it shrank: what was read is not the file
      return false;
    }
    if (errno != EINTR) return false;
  }
}

bool ChunkReader::Next(std::uint8_t* buffer, std::uint32_t size,
                       const std::uint8_t** block, std::uint32_t* read) {
  if (!chunked_) {
    *block = buffer;
    return ReadSome(buffer, size, read);
  }
  std::uint8_t* chunk = ThreadChunk();
  if (at_ == end_) {
    if (!ReadSome(chunk, kChunkSize, &end_)) return false;
    at_ = 0;
  }
  *block = chunk + at_;
  *read = std::min(size, end_ - at_);
  at_ += *read;
  return true;
}

}  // namespace platform::posix
