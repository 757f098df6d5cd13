#include "run/pass_run.h"

#include <algorithm>
#include <new>
#include <thread>
#include <utility>

#include "common/out_of_memory.h"
#include "platform/file.h"
#include "run/box_relay.h"
#include "run/run_feed.h"

namespace run {

using progress::Duration;

bool SizeOfFile(const WideString& name, std::uint64_t* size) {
  return platform::SizeByName(name, size);
}

namespace {

// Waits, looking at the run, until it ends, asks for a box, is cancelled,
// or has been quiet long enough to show a window that stays (true, where
// `may_show`): a run that looks about to end is held back, but never past
// twice the quiet time, since one stuck in its last call always looks so.
bool WaitQuietly(progress::Clock& clock, BoxRelay& relay, RunFeed& feed,
                 bool may_show) {
  const Duration from = clock.Now();
  for (;;) {
    if (relay.Ended().IsSet() || relay.Asked() || feed.Cancelled()) {
      return false;
    }
    const Duration now = clock.Now();
    feed.Sample(now);
    const Duration quiet = now - from;
    if (may_show && quiet >= kQuietTime &&
        (quiet >= 2 * kQuietTime || feed.WorthShowing())) {
      return true;
    }
    // A look each kQuietStep, a wait for that stated deadline: the window's
    // estimate needs samples whatever the run does.
    clock.Wait(relay.Wake(), quiet < kQuietTime
                                 ? std::min(kQuietStep, kQuietTime - quiet)
                                 : kQuietStep);
  }
}

// What the desktop's thread saw of the run while it watched.
struct Watched {
  bool cancelled = false;
  bool shown = true;  // false where the window could not be shown
  bool sized = true;  // false where the sizer found no memory
};

// The desktop's side of the run until it ends or is cancelled: the window
// once the run has been quiet long enough, and each box it asks for.
void WatchTheRun(platform::Desktop& desktop, progress::Clock& clock,
                 const pipeline::Threads& threads, const WideString& title,
                 Stage& stage, BoxRelay& relay, Watched* seen) {
  RunFeed feed(clock, stage, relay, threads);
  // Ctrl+C, from here to the last box, cancels as the window's Cancel.
  const std::unique_ptr<platform::RunWatch> watch =
      desktop.WatchRun([&feed] { feed.Interrupt(); });
  // A desktop that shows no window returns at once; it still shows the
  // run's boxes.
  bool may_show = true;
  for (;;) {
    if (WaitQuietly(clock, relay, feed, may_show)) {
      feed.Opened(clock.Now());
      seen->shown =
          RunOrOutOfMemory([&] { desktop.ShowProgress(title, feed); });
      may_show = relay.Asked() || relay.Ended().IsSet();
    }
    seen->cancelled = feed.Cancelled() || !seen->shown;
    if (seen->cancelled) break;
    // A box closes the window; the quiet time counts again after it.
    if (relay.Asked()) {
      relay.Answer(desktop);
      continue;
    }
    if (relay.Ended().IsSet()) break;
  }
  seen->sized = !feed.SizerFailed();
}

}  // namespace

bool RunPass(platform::Desktop& desktop, progress::Clock& clock,
             const pipeline::Threads& threads, const WideString& title,
             const std::shared_ptr<Stage>& stage,
             const std::function<void(platform::Desktop&)>& pass) {
  // Shared with the pass's thread, which may outlive this call.
  const auto relay = std::make_shared<BoxRelay>(stage->SharedStop());
  // Memory that runs out on any of the run's threads ends the run here, on
  // the desktop's thread, once the pass has left.
  const auto pass_ran = std::make_shared<std::atomic<bool>>(true);
  std::thread thread;
  if (!threads.start(
          [pass, relay, pass_ran] {
            pass_ran->store(RunOrOutOfMemory([&] { pass(*relay); }));
            relay->End();
          },
          &thread)) {
    pass(desktop);
    return true;
  }
  Watched seen;
  // Memory that runs out here, in the window or a box, ends the run as it
  // would on the run's thread: never with that thread still joinable.
  const bool watched = RunOrOutOfMemory([&] {
    WatchTheRun(desktop, clock, threads, title, *stage, *relay, &seen);
  });
  const bool shown = seen.shown && watched;
  const bool sized = seen.sized;
  const bool cancelled = seen.cancelled || !shown;
  // Nothing more is shown for a run that was cancelled: the stop answers
  // any box it asks for.
  if (cancelled) stage->Stop();
  // A cancel never waits for a read: a pass still inside one is left to the
  // kernel, as a stuck worker is.
  if (cancelled && !relay->Ended().WaitFor(kLeaveAfter)) {
    thread.detach();
    if (!shown) throw std::bad_alloc();
    return false;
  }
  thread.join();
  if (!pass_ran->load() || !shown || !sized) throw std::bad_alloc();
  return true;
}

}  // namespace run
