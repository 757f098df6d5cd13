#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "pipeline/threads.h"
#include "progress/clock.h"
#include "run/stage.h"

namespace run {

// The size of the file a name opens, for Watch::size_of: asked of its
// metadata, without an open.
bool SizeOfFile(const WideString& name, std::uint64_t* size);

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
bool RunPass(platform::Desktop& desktop, progress::Clock& clock,
             const pipeline::Threads& threads, const WideString& title,
             const std::shared_ptr<Stage>& stage,
             const std::function<void(platform::Desktop&)>& pass);

}  // namespace run
