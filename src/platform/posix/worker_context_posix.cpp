#include <unistd.h>

#include "platform/posix/worker_state.h"

namespace platform {

WorkerContext::State::~State() {
  if (descriptors >= 0) ::close(descriptors);
  if (spare_hash != nullptr) free_spare_hash(spare_hash);
}

WorkerContext::WorkerContext() : state_(std::make_unique<State>()) {}
WorkerContext::~WorkerContext() = default;

}  // namespace platform
