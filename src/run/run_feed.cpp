#include "run/run_feed.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>
#include <utility>

#include "common/out_of_memory.h"

namespace run {

using progress::Duration;

// The byte total of the items hashed, or of the digest files read,
// gathered once a window shows them (quick runs pay nothing).
struct ByteTotal {
  bool started = false;  // the desktop's thread's alone
  std::atomic<bool> out_of_memory{false};
  std::atomic<bool> known{false};
  std::atomic<std::uint64_t> total{0};
};

namespace {

// It ends at the run's stop, which the run's end asks for too.
void StartSizer(const pipeline::Threads& threads, const Watch& watch,
                const std::shared_ptr<ByteTotal>& sizes,
                std::shared_ptr<const common::Stop> stop) {
  sizes->started = true;
  if (!watch.size_of) return;
  std::function<void()> body = [sizes, stop = std::move(stop),
                                size_of = watch.size_of, count = watch.count] {
    const bool ran = common::RunOrOutOfMemory([&] {
      std::uint64_t total = 0;
      for (std::size_t i = 0; i < count; ++i) {
        if (stop->Requested()) return;
        std::uint64_t size = 0;
        if (size_of(i, &size)) total += size;
        // The workers come first: this only tells how far they are.
        std::this_thread::yield();
      }
      sizes->total.store(total);
      sizes->known.store(true);
    });
    if (!ran) sizes->out_of_memory.store(true);
  };
  std::thread thread;
  // It owns what it reads: an open that never returns keeps only itself.
  if (threads.start(std::move(body), &thread)) thread.detach();
}

bool Known(const ByteTotal& sizes) {
  return sizes.known.load() && sizes.total.load() > 0;
}

// Rounded down, and under 100 while the run goes on.
unsigned Percent(std::uint64_t done, std::uint64_t all) {
  if (all == 0) return 0;
  const std::uint64_t percent = done / all * 100 + done % all * 100 / all;
  return static_cast<unsigned>(std::min<std::uint64_t>(percent, 99));
}

}  // namespace

RunFeed::RunFeed(progress::Clock& clock, Stage& stage, BoxRelay& relay,
                 const pipeline::Threads& threads)
    : clock_(clock),
      stage_(stage),
      relay_(relay),
      threads_(threads),
      sizes_(std::make_shared<ByteTotal>()),
      list_sizes_(std::make_shared<ByteTotal>()) {}

RunFeed::~RunFeed() = default;

bool RunFeed::SizerFailed() const {
  return sizes_->out_of_memory.load() || list_sizes_->out_of_memory.load();
}

bool RunFeed::Share(std::uint64_t* done, std::uint64_t* all) const {
  *done = 0;
  *all = 0;
  if (phase_ == Phase::kReadingLists) {
    *all = stage_.lists.load();
    *done = std::min<std::uint64_t>(stage_.listed.load(), *all);
    if (!Known(*list_sizes_)) return false;
    *all = list_sizes_->total.load();
    *done = std::min(stage_.list_bytes.load(), *all);
    return true;
  }
  if (phase_ != Phase::kHashing) return false;
  const Watch& watch = stage_.Hashed();
  *all = watch.count;
  *done = std::min(watch.counters->files_done.load(), watch.count);
  if (!Known(*sizes_)) return false;
  *all = sizes_->total.load();
  // Two readings of one record may both be read.
  *done = std::min(watch.counters->bytes_done.load(), *all);
  return true;
}

void RunFeed::Sample(Duration now) {
  const Phase phase = stage_.Now();
  if (phase != phase_) {
    // Each phase's share and rate are its own; the percentage shown is the
    // run's (Update).
    phase_ = phase;
    bytes_rate_ = progress::RecentRate();
    share_rate_ = progress::RecentRate();
    if (phase == Phase::kReadingLists) read_lists_ = true;
    // Seen within a look of its start.
    if (phase == Phase::kHashing) hashing_from_ = now;
  }
  const bool by_bytes = Share(&share_done_, &share_all_);
  // A share that turns from files to bytes starts its rate again.
  if (by_bytes != by_bytes_) share_rate_ = progress::RecentRate();
  by_bytes_ = by_bytes;
  share_rate_.Add(now, share_done_);
  if (phase_ == Phase::kHashing) {
    bytes_rate_.Add(now, stage_.Hashed().counters->bytes_done.load());
  }
}

bool RunFeed::WorthShowing() const {
  double rate = 0;
  if (share_all_ == 0 || !share_rate_.PerSecond(&rate) || rate <= 0) {
    return true;
  }
  return static_cast<double>(share_all_ - share_done_) >= rate;
}

bool RunFeed::Update(desktop::ProgressView* view) {
  if (cancelled_ || relay_.Asked()) return false;
  const Duration now = clock_.Now();
  // A window that shows stays a moment, so that it is read, not flashed.
  if (relay_.Ended().IsSet() && now - opened_ >= kLeastShown) return false;
  Sample(now);
  *view = desktop::ProgressView();
  if (phase_ == Phase::kListing) {
    view->unit = progress::Unit::kListed;
    view->done = stage_.listed.load();
    return true;
  }
  if (phase_ == Phase::kReadingLists) {
    view->unit = progress::Unit::kDigestFiles;
    view->all = stage_.lists.load();
    view->done = std::min<std::uint64_t>(stage_.listed.load(), view->all);
    const Watch* found = stage_.FoundLists();
    if (!list_sizes_->started && found != nullptr) {
      StartSizer(threads_, *found, list_sizes_, stage_.SharedStop());
    }
  } else {
    Hashing(now, view);
  }
  if (by_bytes_) {
    view->bytes_known = true;
    view->bytes_done = share_done_;
    view->bytes_all = share_all_;
  }
  // The phase's share placed in the run's: a new phase never sends the
  // percentage back, nor does a share that turns from files to bytes.
  unsigned percent = Percent(share_done_, share_all_);
  if (phase_ == Phase::kReadingLists) {
    percent = percent * kListsPercent / 100;
  } else if (read_lists_) {
    percent = kListsPercent + percent * (100 - kListsPercent) / 100;
  }
  view->percent = std::max(percent_, percent);
  percent_ = view->percent;
  return true;
}

void RunFeed::Hashing(Duration now, desktop::ProgressView* view) {
  const Watch& watch = stage_.Hashed();
  if (!sizes_->started) {
    StartSizer(threads_, watch, sizes_, stage_.SharedStop());
  }
  const std::size_t files =
      std::min(watch.counters->files_done.load(), watch.count);
  view->unit = watch.unit;
  view->done = files;
  view->all = watch.count;
  if (files < watch.count) view->name = watch.name_at(files);
  if (now - hashing_from_ < kEstimateTime) return;
  double rate = 0;
  if (bytes_rate_.PerSecond(&rate)) {
    view->speed_known = true;
    view->speed = static_cast<std::uint64_t>(rate);
  }
  // A read that has not moved for a while tells no time left rather than
  // a growing one.
  if (bytes_rate_.Still(now) < kStillTime && share_rate_.PerSecond(&rate) &&
      rate > 0 && share_done_ < share_all_) {
    view->left_known = true;
    view->seconds_left = static_cast<std::uint64_t>(
        std::ceil(static_cast<double>(share_all_ - share_done_) / rate));
  }
}

void RunFeed::Wait(std::uint32_t milliseconds) {
  Duration wait(milliseconds);
  if (!relay_.Ended().IsSet()) {
    clock_.Wait(relay_.Wake(), wait);
    return;
  }
  // Ended, and the window stays its moment: a wait on what has happened
  // would not wait at all.
  const Duration left = kLeastShown - (clock_.Now() - opened_);
  if (left > Duration(0)) clock_.Wait(never_, std::min(wait, left));
}

// The stop's callbacks wake every wait of the run, here, at once.
void RunFeed::Cancel() {
  cancelled_.store(true);
  stage_.Stop();
}

void RunFeed::Interrupt() {
  Cancel();
  relay_.Wake().Set();
}

}  // namespace run
