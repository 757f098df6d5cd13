#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace run {

// Which reading of each item's name has opened, for the progress window,
// which names the reading the report will name, and none before a thread
// has opened the file. A mark is 0 (not opened yet) or the run's own number
// for the reading. A byte an item: a million records cost a megabyte.
// Threads: Mark on the thread that opens the item's file; Which on any.
class OpenedReadings {
 public:
  explicit OpenedReadings(std::size_t count)
      : marks_(new std::atomic<std::uint8_t>[count]) {
    for (std::size_t i = 0; i < count; ++i) marks_[i].store(0);
  }

  // Where the opener marks item `index` as it opens.
  std::atomic<std::uint8_t>* Mark(std::size_t index) { return &marks_[index]; }
  std::uint8_t Which(std::size_t index) const {
    return marks_[index].load(std::memory_order_relaxed);
  }

 private:
  const std::unique_ptr<std::atomic<std::uint8_t>[]> marks_;
};

}  // namespace run
