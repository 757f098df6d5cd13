#pragma once

#include <cstdint>

namespace platform::posix {

// Hands out a file's blocks front to back. A large file is read in 256 KiB
// chunks into one buffer per thread, so a block costs no system call; this
// measures faster than a mapping and keeps the page cache out of the
// program's memory (a mapping faults in whole 2 MiB folios). A file that
// ends short of its size at open (it shrank under the reader) fails, with
// EIO, instead of passing for whole. Trivial to construct and destroy: it
// lives in the input file's own storage; one large file per thread at once.
class ChunkReader {
 public:
  void Start(int fd, std::uint64_t size);
  // The next block of up to `size` bytes: read into `buffer`, or a view into
  // the chunk, valid until the next call. *read is 0 at the end.
  bool Next(std::uint8_t* buffer, std::uint32_t size,
            const std::uint8_t** block, std::uint32_t* read);

 private:
  bool ReadSome(std::uint8_t* into, std::uint32_t size, std::uint32_t* read);

  int fd_;
  bool chunked_;
  std::uint64_t size_at_open_;
  std::uint64_t done_;  // bytes read so far
  std::uint32_t at_;    // the next block's place in the chunk
  std::uint32_t end_;   // the chunk's bytes
  bool at_end_;         // a short read reached the size at open
};

}  // namespace platform::posix
