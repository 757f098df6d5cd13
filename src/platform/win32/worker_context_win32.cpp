#include "platform/worker_context.h"

namespace platform {

// Windows keeps nothing from one file to the next.
struct WorkerContext::State {};

WorkerContext::WorkerContext() : state_(std::make_unique<State>()) {}
WorkerContext::~WorkerContext() = default;

}  // namespace platform
