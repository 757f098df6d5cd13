#pragma once

#include <sys/types.h>

#include "platform/worker_context.h"

namespace platform {

struct WorkerContext::State {
  State() = default;
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // /proc/self/fd, opened on first use, and only where it is procfs: one
  // name to look up per file instead of a path. -1: not there or not
  // procfs; kUnopened: not asked yet.
  static constexpr int kUnopened = -2;
  int descriptors = kUnopened;
  // The last device asked whether it is a pseudo file system: the files of a
  // folder share one, and a system call per file counts.
  bool device_known = false;
  dev_t device = 0;
  bool device_pseudo = false;
  // A finished digest kept for the next file, and how to free it (the
  // crypto backend's own, which suites may replace): allocating a digest
  // context per file counts when a folder holds many small files.
  void* spare_hash = nullptr;
  void (*free_spare_hash)(void*) = nullptr;
};

}  // namespace platform
