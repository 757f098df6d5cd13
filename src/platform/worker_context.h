#pragma once

#include <memory>

namespace platform {

// What one thread reuses from one file to the next, each backend's own:
// descriptors it keeps, answers it caches, a spare digest. Opaque here, so a
// backend that needs little pays little.
// Threads: one context per thread; two threads never use one at once.
class WorkerContext {
 public:
  WorkerContext();
  ~WorkerContext();
  WorkerContext(const WorkerContext&) = delete;
  WorkerContext& operator=(const WorkerContext&) = delete;

  struct State;  // defined by the backend
  State& Backend() { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

}  // namespace platform
