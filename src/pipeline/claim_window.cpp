#include "pipeline/claim_window.h"

#include <algorithm>

namespace pipeline {

ClaimWindow::ClaimWindow(unsigned workers)
    : size_(workers > 0 ? 32 * kBatch * workers : 1),
      room_step_(std::max<std::size_t>(1, size_ / 2)) {}

bool ClaimWindow::HasRoom(std::size_t next, std::size_t taken,
                          std::size_t count) const {
  return next >= count ||
         next + std::min(room_step_, count - next) <= taken + size_;
}

std::size_t ClaimWindow::ClaimEnd(std::size_t next, std::size_t batch,
                                  std::size_t taken, std::size_t count) const {
  return std::max(next, std::min({next + batch, count, taken + size_}));
}

std::size_t ClaimWindow::NextBatch(std::size_t batch, bool short_jobs) {
  return short_jobs ? std::min(kBatch, 2 * batch) : 1;
}

}  // namespace pipeline
