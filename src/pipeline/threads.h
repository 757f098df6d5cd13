#pragma once

#include <functional>
#include <thread>

#include "common/thread_starter.h"

namespace pipeline {

// The program's ThreadStarter: a std::thread.
bool StartThread(std::function<void()> body, std::thread* thread);

// How a run hashes: on how many threads at once, whether a large file's
// next chunk is read on a helper thread while the current one is hashed,
// and how threads are started (suites give a starter that fails). How many
// suit the disk and the CPUs is the run's to say (run::HashThreads).
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
  common::ThreadStarter start = StartThread;
};

}  // namespace pipeline
