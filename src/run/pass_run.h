#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "pipeline/threads.h"
#include "progress/clock.h"
#include "run/ordered_run.h"

namespace run {

// What a progress window reads of a run while its pass goes on.
struct Watch {
  std::size_t count = 0;  // the items of the pass: files, or records
  progress::Unit unit = progress::Unit::kFiles;
  std::shared_ptr<const Counters> counters;
  // The name of item i as it was opened (the reading the report names),
  // none until a thread has opened it; read on the desktop's thread while
  // the pass runs.
  std::function<WideString(std::size_t)> name_at;
  // Item i's size, false where it cannot be had; read on a thread of its
  // own once the window shows, which may outlive the run in a call that
  // does not return: what it reads must be shared-owned.
  std::function<bool(std::size_t, std::uint64_t*)> size_of;
};

// The size of the file a name opens, for Watch::size_of: asked of its
// metadata, without an open.
bool SizeOfFile(const WideString& name, std::uint64_t* size);

// A run that takes this long shows its progress; one that ends sooner shows
// nothing new.
constexpr progress::Duration kQuietTime{2000};
// Time left is told once this much of the run allows an estimate.
constexpr progress::Duration kEstimateTime{5000};
// Time left is not told while no byte has moved for this long.
constexpr progress::Duration kStillTime{5000};
// After a cancel, how long the desktop's thread waits for the pass to end
// before it leaves the pass inside its call (real time, whatever the clock).
constexpr std::chrono::milliseconds kLeaveAfter{500};

// Runs `pass` on a thread of its own and, where it is still at work
// kQuietTime after the call, shows its progress under `title` until it
// ends. The calling thread, the desktop's, makes every desktop call, so the
// window answers while a file of any size is hashed; `pass` makes none.
// The user's Cancel calls `stop` (the run's one stop), after which the pass
// ends where it stands; where it stays inside a call that does not return,
// it is left to the kernel, with what `pass` holds (shared-owned), and
// RunPass returns false. Where no thread can be had, the pass runs here,
// without progress. Memory that ran out on the pass's thread, a worker's
// (passed on by the pass) or this one's while the window showed is thrown
// here as std::bad_alloc once the pass has left.
bool RunPass(platform::Desktop& desktop, progress::Clock& clock,
             const pipeline::Threads& threads, const WideString& title,
             const Watch& watch, const std::function<void()>& pass,
             const std::function<void()>& stop);

}  // namespace run
