#pragma once

#include <cstdint>

namespace platform::posix {

// Hands out a large file's blocks from a mapping, a window at a time, so that
// a block costs neither a system call nor a copy. Several threads may each
// map a file at once. Trivial to construct and destroy: it lives in the
// input file's own storage, and Stop releases the mapping.
class MappedReader {
 public:
  // On an open descriptor whose size was `size` when it was opened; a small
  // file is not mapped, and Next answers 0 at once.
  void Start(int fd, std::uint64_t size);
  // The next block of up to `size` bytes, valid until the next call; *read
  // is 0 once the mapped part is used up (or cannot be mapped), and the
  // descriptor is then positioned for read() to go on from there. Fails,
  // with EIO, when the file shrank under the mapping.
  bool Next(std::uint32_t size, const std::uint8_t** block,
            std::uint32_t* read);
  // After the last read: fails, with EIO, when a file that was mapped is now
  // shorter than when it was opened. A cut inside the last mapped page
  // raises no fault and reads as zeros, so only the size tells.
  bool CheckNotShrunk() const;
  void Stop();

 private:
  bool NextWindow();
  void Unmap();

  int fd_;
  bool mapping_;  // blocks come from the window
  bool mapped_;   // some window was mapped: the size is checked at the end
  std::uint64_t size_at_open_;
  const std::uint8_t* base_;
  std::uint64_t offset_;  // of base_ in the file
  std::uint32_t length_;
  std::uint32_t used_;
};

}  // namespace platform::posix
