#pragma once

#include <functional>
#include <thread>

#include "platform/disk.h"

namespace pipeline {

// Starts `body` on *thread; false where no thread could be started (no
// memory for its stack, a limit on processes).
using ThreadStarter =
    std::function<bool(std::function<void()> body, std::thread* thread)>;
bool StartThread(std::function<void()> body, std::thread* thread);

// How a run hashes: on how many threads at once, whether a large file's
// next chunk is read on a helper thread while the current one is hashed,
// and how threads are started (suites give a starter that fails).
struct Threads {
  // `count` files hashed at once: 1 is the pass alone, with no worker
  // thread; up to `cpus`, the pass and count - 1 workers ahead of it (the
  // pass hashes ahead too while it would wait); beyond, `count` workers and
  // a pass that only takes their results in order, so that a worker the
  // system set aside is not kept waiting behind a file the pass started.
  // A helper reading ahead for each.
  static Threads Workers(unsigned count) { return Threads(count); }
  explicit Threads(unsigned count)
      : workers(count), cpus(count), read_ahead(count > 1) {}
  unsigned workers;  // files hashed at once
  unsigned cpus;     // the CPUs the process may use
  bool read_ahead;
  ThreadStarter start = StartThread;
};

// How many files are hashed at once on `disk` with `cpus` usable: one where
// the disk seeks, else one per CPU, at most 8; twice as many on a
// hypervisor's disk, whose reads come back sooner queued deeper (what runs
// beyond the CPUs mostly waits for the disk there), unless the process may
// use one CPU only.
unsigned FilesAtOnce(platform::DiskKind disk, unsigned cpus);

// FilesAtOnce for the current folder's disk and the CPUs the process may
// use (its affinity, and on Linux its cgroup's CPU quota); reading ahead
// wherever there is more than one CPU. With one CPU, no helper. Decided once
// per run.
Threads HashThreads();

}  // namespace pipeline
