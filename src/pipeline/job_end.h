#pragma once

namespace pipeline {

// How a job ended before the pass's turn (on a worker, or on the pass while
// it would wait); in turn a job always ends kDone. What a job returns, so
// its callers need nothing else of the pipeline.
enum class JobEnd {
  kDone,          // its result is ready for the pass
  kToThePass,     // the pass runs it in its turn (a stop, a link, ...)
  kOutOfHandles,  // the same, and the workers stop and let their
                  // descriptors go: the rest runs as one pass
};

// How a job ends: in turn (not `ahead`) with its result; ahead, left to the
// pass where `left` (stopped, or the pass's to run), and freeing the
// workers' descriptors where it found none free.
constexpr JobEnd EndOfJob(bool ahead, bool left, bool out_of_handles) {
  if (!ahead) return JobEnd::kDone;
  if (left) return JobEnd::kToThePass;
  return out_of_handles ? JobEnd::kOutOfHandles : JobEnd::kDone;
}

}  // namespace pipeline
