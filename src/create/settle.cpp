#include "create/settle.h"

#include <thread>

#include "progress/clock.h"

namespace create {

namespace {

// How long the desktop's thread waits, after a cancel that left the pass
// inside a call, for the staged digest files to be put in place (a wait
// for that stated deadline, in real time whatever the run's clock): where
// the file system answers, a moment, though a flush before the renames
// may take a while on a busy disk; with the pass's kLeaveAfter, the box
// still comes within a second.
constexpr progress::Duration kSettleTime{400};

// On a thread of its own, after such a cancel: what the pass staged before
// it is put in place and flushed, unless the pass is at that itself, in
// which case this waits for it. Told to so_far as it goes, until taken.
void Settle(Creation& c) {
  const common::Lock lock(c.staging);
  bool passed = false;
  if (!c.so_far.Add([&](Written& w) {
        // The pass's own commit and flush are over once it lets go.
        passed = w.committing;
        if (passed) w.flushing = false;
        w.committing = true;
      }) ||
      passed) {
    return;
  }
  const bool ok = c.batch.Commit();
  const platform::ErrorCode error = ok ? 0 : platform::GetLastErrorCode();
  const std::size_t count = c.batch.Committed();
  c.so_far.Add([&](Written& w) {
    w.count = count;
    w.staged = 0;
    if (!ok && !w.failed) {
      w.failed = true;
      w.failure = error;
    }
  });
  c.batch.Flush();
}

}  // namespace

Written Abandon(const std::shared_ptr<Creation>& creation,
                const pipeline::Threads& threads) {
  const auto settled = std::make_shared<progress::Latch>();
  std::thread thread;
  if (threads.start(
          [creation, settled] {
            Settle(*creation);
            settled->Set();
          },
          &thread)) {
    thread.detach();
    settled->WaitFor(kSettleTime);
  }
  return creation->so_far.Take();
}

}  // namespace create
