#pragma once

#include <cstddef>

namespace pipeline {

// Which indexes the workers may claim ahead of the pass: no more than the
// window past the index the pass holds, so that each claimed index has a
// slot of its own. Plain arithmetic; any thread.
class ClaimWindow {
 public:
  // Small files take less time to hash than to claim and hand over one by
  // one: a worker whose jobs are short claims more at a time, doubling up
  // to kBatch, and one whose job was long goes back to one, so that large
  // files spread over the workers.
  static constexpr std::size_t kBatch = 32;

  explicit ClaimWindow(unsigned workers);

  // The indexes claimed ahead of the pass at most; one slot each. Many
  // claims deep, so that a thread the system sets aside a while (another
  // process wants the CPU) holds up neither the pass nor the others: a
  // waiting thread costs two switches, more than a small file's hashing.
  std::size_t Size() const { return size_; }
  // The pass tells waiting workers each time it has freed this many slots.
  std::size_t RoomStep() const { return room_step_; }
  // Whether a worker waiting at `next` may claim: there is room for a whole
  // claim (RoomStep, or what is left of the `count` indexes).
  bool HasRoom(std::size_t next, std::size_t taken, std::size_t count) const;
  // One past the last index of a claim of up to `batch` from `next`.
  std::size_t ClaimEnd(std::size_t next, std::size_t batch, std::size_t taken,
                       std::size_t count) const;
  // The batch after a claim whose jobs were all short, or not.
  static std::size_t NextBatch(std::size_t batch, bool short_jobs);

 private:
  std::size_t size_;
  std::size_t room_step_;
};

}  // namespace pipeline
