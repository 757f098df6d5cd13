#pragma once

#include <cstdint>
#include <deque>
#include <utility>

#include "progress/clock.h"

namespace progress {

// How fast an amount that only grows (bytes, files) has grown of late: over
// the last ten seconds, so that speed and time left follow a run that
// speeds up or slows down. Threads: one.
class RecentRate {
 public:
  static constexpr Duration kSpan{10000};

  void Add(Duration now, std::uint64_t amount) {
    if (samples_.empty() || amount != samples_.back().second) moved_at_ = now;
    samples_.emplace_back(now, amount);
    // The oldest sample kept is the last one at least kSpan old.
    while (samples_.size() > 2 && now - samples_[1].first >= kSpan) {
      samples_.pop_front();
    }
  }
  // The amount per second; false before two samples a moment apart.
  bool PerSecond(double* rate) const {
    if (samples_.size() < 2) return false;
    const Duration span = samples_.back().first - samples_.front().first;
    if (span.count() <= 0) return false;
    *rate =
        static_cast<double>(samples_.back().second - samples_.front().second) *
        1000 / static_cast<double>(span.count());
    return true;
  }
  // How long the amount has not moved.
  Duration Still(Duration now) const { return now - moved_at_; }

 private:
  std::deque<std::pair<Duration, std::uint64_t>> samples_;
  Duration moved_at_{0};
};

}  // namespace progress
