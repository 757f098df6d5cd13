#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "digest/digest_entry.h"

namespace digest {

// The records of a verification run, in the order they were read. They are
// kept in blocks of many, not one allocation each: a list of a hundred
// thousand records is read before any is checked, and a heap that grows a
// page at a time costs a system call for every few dozen records.
class DigestList {
 public:
  // An empty record at the end; null where no memory was found for it.
  DigestEntry* Append() {
    if (count_ == blocks_.size() * kBlock) {
      std::unique_ptr<DigestEntry[]> block(new (std::nothrow)
                                               DigestEntry[kBlock]);
      if (!block) return nullptr;
      blocks_.push_back(std::move(block));
    }
    return &Slot(count_++);
  }
  std::size_t Count() const { return count_; }
  // The entry in a slot; any thread once the list is read whole.
  const DigestEntry* At(std::size_t slot) const {
    return &blocks_[slot / kBlock][slot % kBlock];
  }
  // Forgets the entries from `count` on; their slots start empty again.
  void Truncate(std::size_t count) {
    for (; count_ > count; --count_) Slot(count_ - 1) = DigestEntry();
  }

 private:
  static constexpr std::size_t kBlock = 4096;

  DigestEntry& Slot(std::size_t slot) {
    return blocks_[slot / kBlock][slot % kBlock];
  }

  std::vector<std::unique_ptr<DigestEntry[]>> blocks_;
  std::size_t count_ = 0;
};

}  // namespace digest
