#include "run/pass_run.h"

#include <algorithm>
#include <new>
#include <thread>
#include <utility>

#include "common/out_of_memory.h"
#include "platform/file.h"
#include "run/box_relay.h"
#include "run/hash_threads.h"
#include "run/run_feed.h"

namespace run {

using progress::Duration;

bool SizeOfFile(const common::WideString& name, std::uint64_t* size) {
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

// On the desktop's thread while the pass runs on its own: the window
// once the run has been quiet long enough, and each box the pass asks
// for, until the pass ends or the user cancels (*cancelled). *shown is
// false where memory ran out in the window; false where it ran out on the
// sizer's thread.
bool ShowUntilEnd(desktop::Desktop& desktop, progress::Clock& clock,
                  Stage& stage, BoxRelay& relay,
                  const pipeline::Threads& threads,
                  const common::WideString& title, bool* cancelled,
                  bool* shown) {
  RunFeed feed(clock, stage, relay, threads);
  // Ctrl+C, from here to the last box, cancels as the window's Cancel.
  const std::unique_ptr<desktop::RunWatch> watch =
      desktop.WatchRun([&feed] { feed.Interrupt(); });
  // A desktop that shows no window returns at once; it still shows the
  // run's boxes.
  bool may_show = true;
  for (;;) {
    if (WaitQuietly(clock, relay, feed, may_show)) {
      feed.Opened(clock.Now());
      *shown =
          common::RunOrOutOfMemory([&] { desktop.ShowProgress(title, feed); });
      may_show = relay.Asked() || relay.Ended().IsSet();
    }
    *cancelled = feed.Cancelled() || !*shown;
    if (*cancelled) break;
    // A box closes the window; the quiet time counts again after it.
    if (relay.Asked()) {
      relay.Answer(desktop);
      continue;
    }
    if (relay.Ended().IsSet()) break;
  }
  return !feed.SizerFailed();
}

}  // namespace

bool RunPass(desktop::Desktop& desktop, progress::Clock& clock,
             const pipeline::Threads& threads, const common::WideString& title,
             const std::shared_ptr<Stage>& stage,
             const std::function<void(desktop::Desktop&)>& pass) {
  // Shared with the pass's thread, which may outlive this call.
  const auto relay = std::make_shared<BoxRelay>(stage->SharedStop());
  // Memory that runs out on any of the run's threads ends the run here, on
  // the desktop's thread, once the pass has left.
  const auto pass_ran = std::make_shared<std::atomic<bool>>(true);
  std::thread thread;
  if (!threads.start(
          [pass, relay, pass_ran] {
            pass_ran->store(common::RunOrOutOfMemory([&] { pass(*relay); }));
            relay->End();
          },
          &thread)) {
    pass(desktop);
    return true;
  }
  bool cancelled = false;
  bool shown = true;
  bool sized = true;
  // Memory that runs out here, in the window or a box, ends the run as it
  // would on the run's thread: never with that thread still joinable.
  const bool watched = common::RunOrOutOfMemory([&] {
    sized = ShowUntilEnd(desktop, clock, *stage, *relay, threads, title,
                         &cancelled, &shown);
  });
  if (!watched) shown = false;
  cancelled = cancelled || !shown;
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

pipeline::Threads ThreadsOf(const Settings& settings) {
  return settings.threads ? *settings.threads : HashThreads();
}

}  // namespace run
