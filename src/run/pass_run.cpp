#include "run/pass_run.h"

#include <algorithm>
#include <new>
#include <thread>
#include <utility>

#include "common/out_of_memory.h"
#include "platform/file.h"
#include "progress/progress_texts.h"

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
      platform::WorkerContext context;
      std::uint64_t total = 0;
      for (std::size_t i = 0; i < count; ++i) {
        if (sizes->quit.load()) return;
        std::uint64_t size = 0;
        if (size_of(i, context, &size)) total += size;
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
    const Duration elapsed = clock_.Now() - start_;
    const std::size_t all = watch_.count;
    const std::size_t files = std::min(watch_.counters->files_done.load(), all);
    const std::uint64_t bytes = watch_.counters->bytes_done.load();
    *view = platform::ProgressView();
    view->files = progress::FilesText(files, all);
    view->speed = progress::SpeedText(bytes, elapsed);
    if (files < all) view->name = watch_.name_at(files);
    // The share done, and the rest at the rate so far: by bytes where the
    // total is known, else by files.
    double done =
        all == 0 ? 0 : static_cast<double>(files) / static_cast<double>(all);
    if (sizes_.known.load() && sizes_.total.load() > 0) {
      const std::uint64_t total = sizes_.total.load();
      // Two readings of one record may both be read.
      const std::uint64_t shown = std::min(bytes, total);
      view->bytes = progress::BytesText(shown, total);
      done = static_cast<double>(shown) / static_cast<double>(total);
    }
    view->fraction = done;
    if (elapsed >= kEstimateTime && done > 0 && done < 1) {
      const double seconds =
          static_cast<double>(elapsed.count()) / 1000 * (1 - done) / done;
      view->left =
          progress::LeftText(static_cast<std::uint64_t>(seconds + 0.999));
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
  bool cancelled_ = false;
};

}  // namespace

bool SizeOfFile(const WideString& name, platform::WorkerContext& context,
                std::uint64_t* size) {
  platform::InputFile file;
  if (!file.Open(name, context)) return false;
  *size = file.SizeAtOpen();
  return true;
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
