#include "run/pass_run.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <thread>
#include <utility>

#include "common/out_of_memory.h"
#include "platform/file.h"
#include "progress/recent_rate.h"

namespace run {
namespace {

using progress::Duration;

// The byte total, gathered once the window shows (quick runs pay nothing).
struct Sizes {
  std::atomic<bool> quit{false};
  std::atomic<bool> out_of_memory{false};
  std::atomic<bool> known{false};
  std::atomic<std::uint64_t> total{0};
};

void StartSizer(const pipeline::Threads& threads, const Watch& watch,
                const std::shared_ptr<Sizes>& sizes) {
  if (!watch.size_of) return;
  std::function<void()> body = [sizes, size_of = watch.size_of,
                                count = watch.count] {
    const bool ran = RunOrOutOfMemory([&] {
      std::uint64_t total = 0;
      for (std::size_t i = 0; i < count; ++i) {
        if (sizes->quit.load()) return;
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

// Rounded down, and under 100 while the run goes on.
unsigned Percent(std::uint64_t done, std::uint64_t all) {
  if (all == 0) return 0;
  const std::uint64_t percent = done / all * 100 + done % all * 100 / all;
  return static_cast<unsigned>(std::min<std::uint64_t>(percent, 99));
}

class Feed : public platform::ProgressFeed {
 public:
  Feed(progress::Clock& clock, const Watch& watch, Duration start,
       progress::Latch& ended, const std::function<void()>& stop,
       const Sizes& sizes)
      : clock_(clock),
        watch_(watch),
        start_(start),
        ended_(ended),
        stop_(stop),
        sizes_(sizes) {}

  bool Cancelled() const { return cancelled_; }

  bool Update(platform::ProgressView* view) override {
    if (ended_.IsSet() || cancelled_) return false;
    const Duration now = clock_.Now();
    const std::size_t all = watch_.count;
    const std::size_t files = std::min(watch_.counters->files_done.load(), all);
    const std::uint64_t bytes = watch_.counters->bytes_done.load();
    *view = platform::ProgressView();
    view->unit = watch_.unit;
    view->done = files;
    view->all = all;
    if (files < all) view->name = watch_.name_at(files);
    bytes_rate_.Add(now, bytes);
    files_rate_.Add(now, files);
    // The share done: of bytes where the total is known, else of files.
    std::uint64_t share_done = files;
    std::uint64_t share_all = all;
    const bool by_bytes = sizes_.known.load() && sizes_.total.load() > 0;
    if (by_bytes) {
      share_all = sizes_.total.load();
      // Two readings of one record may both be read.
      share_done = std::min(bytes, share_all);
      view->bytes_known = true;
      view->bytes_done = share_done;
      view->bytes_all = share_all;
    }
    view->percent = std::max(percent_, Percent(share_done, share_all));
    percent_ = view->percent;
    if (now - start_ < kEstimateTime) return true;
    double rate = 0;
    if (bytes_rate_.PerSecond(&rate)) {
      view->speed_known = true;
      view->speed = static_cast<std::uint64_t>(rate);
    }
    // A read that has not moved for a while tells no time left rather than
    // a growing one.
    const progress::RecentRate& share_rate =
        by_bytes ? bytes_rate_ : files_rate_;
    if (bytes_rate_.Still(now) < kStillTime && share_rate.PerSecond(&rate) &&
        rate > 0 && share_done < share_all) {
      view->left_known = true;
      view->seconds_left = static_cast<std::uint64_t>(
          std::ceil(static_cast<double>(share_all - share_done) / rate));
    }
    return true;
  }

  void Wait(std::uint32_t milliseconds) override {
    clock_.Wait(ended_, Duration(milliseconds));
  }

  void Cancel() override {
    cancelled_ = true;
    stop_();
  }

 private:
  progress::Clock& clock_;
  const Watch& watch_;
  const Duration start_;
  progress::Latch& ended_;
  const std::function<void()>& stop_;
  const Sizes& sizes_;
  progress::RecentRate bytes_rate_;
  progress::RecentRate files_rate_;
  unsigned percent_ = 0;
  bool cancelled_ = false;
};

}  // namespace

bool SizeOfFile(const WideString& name, std::uint64_t* size) {
  return platform::SizeByName(name, size);
}

bool RunPass(platform::Desktop& desktop, progress::Clock& clock,
             const pipeline::Threads& threads, const WideString& title,
             const Watch& watch, const std::function<void()>& pass,
             const std::function<void()>& stop) {
  // Shared with the pass's thread, which may outlive this call.
  const auto ended = std::make_shared<progress::Latch>();
  const Duration start = clock.Now();
  std::thread thread;
  // Memory that runs out on any of the run's threads ends the run here, on
  // the desktop's thread, once the pass has left. Shared with the pass's
  // thread, which may outlive this call.
  const auto pass_ran = std::make_shared<std::atomic<bool>>(true);
  if (!threads.start(
          [pass, ended, pass_ran] {
            pass_ran->store(RunOrOutOfMemory(pass));
            ended->Set();
          },
          &thread)) {
    pass();
    return true;
  }
  bool cancelled = false;
  bool shown = true;
  bool sized = true;
  if (!clock.Wait(*ended, kQuietTime)) {
    const auto sizes = std::make_shared<Sizes>();
    StartSizer(threads, watch, sizes);
    Feed feed(clock, watch, start, *ended, stop, *sizes);
    shown = RunOrOutOfMemory([&] { desktop.ShowProgress(title, feed); });
    if (!shown) stop();
    sizes->quit.store(true);
    sized = !sizes->out_of_memory.load();
    cancelled = feed.Cancelled() || !shown;
  }
  // A cancel never waits for a read: a pass still inside one is left to the
  // kernel, as a stuck worker is.
  if (cancelled && !ended->WaitFor(kLeaveAfter)) {
    thread.detach();
    if (!shown) throw std::bad_alloc();
    return false;
  }
  thread.join();
  if (!pass_ran->load() || !shown || !sized) throw std::bad_alloc();
  return true;
}

}  // namespace run
