#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "common/mutex.h"
#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "hash/crypt_provider.h"
#include "pipeline/threads.h"
#include "progress/clock.h"
#include "run/settings.h"
#include "run/stage.h"

namespace run {

// The size of the file a name opens, for Watch::size_of: asked of its
// metadata, without an open.
bool SizeOfFile(const common::WideString& name, std::uint64_t* size);

// A run that takes this long shows its progress; one that ends sooner shows
// nothing new, and one that looks about to end shows at twice this at the
// latest. It counts again after each box the run shows.
constexpr progress::Duration kQuietTime{2000};
// How often the run is looked at while no window shows.
constexpr progress::Duration kQuietStep{250};
// After a cancel, how long the desktop's thread waits for the pass to end
// before it leaves the pass inside its call (real time, whatever the clock).
constexpr std::chrono::milliseconds kLeaveAfter{500};

// Runs `pass` on a thread of its own from the run's start and, where it is
// still at work kQuietTime later and the estimate leaves at least a second
// (or at work twice kQuietTime later, whatever the estimate), shows its
// progress under `title`, as `stage` tells it, until it ends.
// The calling thread, the desktop's, makes every desktop call, so the
// window answers while a file of any size is hashed: a box `pass` shows on
// the desktop it is given closes the window, shows on this thread, and the
// quiet time counts again once it is answered. The user's Cancel stops
// `stage` (the run's one stop), after which the pass ends where it stands;
// where it stays inside a call that does not return, it is left to the
// kernel, with what `pass` holds (shared-owned), and RunPass returns false.
// Where no thread can be had, the pass runs here, without progress. Memory
// that ran out on the pass's thread, a worker's (passed on by the pass) or
// this one's while the window showed is thrown here as std::bad_alloc once
// the pass has left.
bool RunPass(desktop::Desktop& desktop, progress::Clock& clock,
             const pipeline::Threads& threads, const common::WideString& title,
             const std::shared_ptr<Stage>& stage,
             const std::function<void(desktop::Desktop&)>& pass);

// What the pass's thread hands the desktop's as it goes (what it found
// before its items are hashed, the run of those items once it starts): a
// run's own struct, under one lock, since the pass may still be at work,
// left inside a call, when the desktop's thread reads it. Threads: any.
template <typename Handed>
class HandOver {
 public:
  template <typename Change>
  void Give(Change change) {
    const common::Lock lock(mutex_);
    change(handed_);
  }
  Handed Now() {
    const common::Lock lock(mutex_);
    return handed_;
  }

 private:
  common::Mutex mutex_;
  Handed handed_ GUARDED_BY(mutex_){};
};

// A run as RunPassHanding set it up and ran it, and what its pass handed
// over by the time RunPass returned.
template <typename Handed>
struct RanHanding {
  pipeline::Threads threads;
  std::shared_ptr<Stage> stage;  // the run's one stop with it
  bool ended = true;             // false where the pass was left in a call
  Handed handed;
};

// The threads of `settings`; where absent, one per CPU (HashThreads).
pipeline::Threads ThreadsOf(const Settings& settings);

// What the pass's thread shares with the desktop's, in one allocation.
template <typename Handed>
struct StagedHandOver {
  Stage stage;
  HandOver<Handed> handed;
};

// A pass as RunPass runs it. Named rather than a lambda: the program's
// size.
template <typename Handed, typename Pass>
struct Handing {
  void operator()(desktop::Desktop& shown) const {
    pass(shown, *provider, threads, shared->stage, shared->handed);
  }
  Pass pass;
  std::shared_ptr<StagedHandOver<Handed>> shared;
  pipeline::Threads threads;
  std::shared_ptr<hash::CryptProvider> provider;
};

// What every run sets up the same way, then RunPass: the threads and the
// clock of `settings` (the steady clock where none), a stage and a
// HandOver shared with the pass's thread, which may outlive the call in a
// read. `pass(desktop, provider, threads, stage, handed)` gets the desktop
// its boxes go through and a share of `provider`.
template <typename Handed, typename Pass>
RanHanding<Handed> RunPassHanding(desktop::Desktop& desktop,
                                  hash::CryptProvider& provider,
                                  const Settings& settings,
                                  const common::WideString& title, Pass pass) {
  const auto shared = std::make_shared<StagedHandOver<Handed>>();
  RanHanding<Handed> ran{ThreadsOf(settings),
                         std::shared_ptr<Stage>(shared, &shared->stage), true,
                         Handed()};
  progress::SteadyClock steady;
  ran.ended = RunPass(desktop, settings.clock ? *settings.clock : steady,
                      ran.threads, title, ran.stage,
                      // A share: the pass may be left inside a call.
                      Handing<Handed, Pass>{std::move(pass), shared,
                                            ran.threads, provider.Share()});
  ran.handed = shared->handed.Now();
  return ran;
}

}  // namespace run
