#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "digest/digest_entry.h"

// The records of a verification run, in the order they were read.
class DigestList {
 public:
  // Takes ownership. A slot that cannot be allocated ends the process.
  void Append(std::unique_ptr<DigestEntry> entry) {
    slots_.push_back(std::move(entry));
  }
  std::size_t Count() const { return slots_.size(); }
  // The entry in a slot, for a reader ahead of the walk; null once taken.
  const DigestEntry* At(std::size_t slot) const { return slots_[slot].get(); }
  // Moves the entry out of its slot, which then holds nothing.
  std::unique_ptr<DigestEntry> Take(std::size_t slot) {
    return std::move(slots_[slot]);
  }
  void Clear() { slots_.clear(); }
  // Destroys the entries from `count` on.
  void Truncate(std::size_t count) {
    if (count < slots_.size()) slots_.resize(count);
  }

 private:
  std::vector<std::unique_ptr<DigestEntry>> slots_;
};
