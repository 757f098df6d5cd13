#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "desktop/desktop.h"
#include "pipeline/threads.h"
#include "progress/clock.h"
#include "progress/recent_rate.h"
#include "run/box_relay.h"
#include "run/stage.h"

namespace run {

// Time left is told once this much of the hashing allows an estimate.
constexpr progress::Duration kEstimateTime{5000};
// Time left is not told while no byte has moved for this long.
constexpr progress::Duration kStillTime{5000};
// A window that shows stays this long, unless cancelled or a box comes.
constexpr progress::Duration kLeastShown{1000};
// The run's one percentage, which never goes back: in a verification the
// digest files' reading fills this much of it, the hashing the rest.
constexpr unsigned kListsPercent = 10;

struct ByteTotal;

// A run's progress window from the run's start: the phase in hand, its
// counts and share, and once items are hashed their bytes, speed and time
// left. It samples the run while no window shows too, so that the moment a
// window would show has an estimate. Threads: the desktop's only, but for
// Interrupt; a byte total is gathered on a thread of its own once a
// window shows.
class RunFeed : public desktop::ProgressFeed {
 public:
  RunFeed(progress::Clock& clock, Stage& stage, BoxRelay& relay,
          const pipeline::Threads& threads);
  ~RunFeed() override;
  RunFeed(const RunFeed&) = delete;
  RunFeed& operator=(const RunFeed&) = delete;

  // Takes the run's numbers at `now`, for the rate.
  void Sample(progress::Duration now);
  // Whether a window shown now would stay a while: the estimate, where
  // there is one, leaves at least a second.
  bool WorthShowing() const;
  // A window shows from `now`.
  void Opened(progress::Duration now) { opened_ = now; }
  // The user cancelled: in the window, or by an interrupt.
  bool Cancelled() const { return cancelled_.load(); }
  // An interrupt (the desktop's watch): a cancel, whether or not a window
  // shows; it wakes the desktop's wait. Any thread.
  void Interrupt();
  // Memory ran out on the sizer's thread.
  bool SizerFailed() const;

  bool Update(desktop::ProgressView* view) override;
  void Wait(std::uint32_t milliseconds) override;
  void Cancel() override;

 private:
  // The share done and its whole, for the phase in hand; whether they are
  // bytes (once the phase's sizes are known), not items.
  bool Share(std::uint64_t* done, std::uint64_t* all) const;
  void ViewOf(progress::Duration now, desktop::ProgressView* view);
  void Hashing(progress::Duration now, desktop::ProgressView* view);

  progress::Clock& clock_;
  Stage& stage_;
  BoxRelay& relay_;
  const pipeline::Threads& threads_;
  std::shared_ptr<ByteTotal> sizes_;
  std::shared_ptr<ByteTotal> list_sizes_;
  Phase phase_ = Phase::kListing;
  progress::RecentRate bytes_rate_;
  progress::RecentRate share_rate_;
  std::uint64_t share_done_ = 0;
  std::uint64_t share_all_ = 0;
  unsigned percent_ = 0;  // the largest shown
  bool read_lists_ = false;
  bool by_bytes_ = false;
  progress::Duration opened_{0};
  progress::Duration hashing_from_{0};
  progress::Latch never_;  // for waits once the run has ended
  std::atomic<bool> cancelled_{false};
};

}  // namespace run
