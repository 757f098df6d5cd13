#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/algorithm_id.h"
#include "common/wide_string.h"
#include "digest/digest_parser.h"
#include "hash/hash_context.h"
#include "pipeline/job_end.h"
#include "pipeline/pipeline_state.h"
#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/worker_context.h"
#include "run/stage.h"

namespace verify {

// Lists are read in pieces and parsed as they come, never held whole: a
// sparse list of gigabytes of zeros costs one piece and ends at its first
// byte.
constexpr std::uint32_t kPieceSize = 64 * 1024;

// How the reading of one list ended; the boxes it calls for are shown by
// the scan, in list order, once nothing reads behind them.
struct ListEnd {
  enum Kind { kRead, kMalformed, kUnreadable, kStopped };
  Kind kind = kRead;
  platform::ErrorCode error = 0;  // kUnreadable: the failing call's
  bool out_of_handles = false;    // kUnreadable for want of a descriptor
};

// A list of a few records reads ahead: the slots ahead of the scan, a
// thousand a worker, then hold at most 4 MiB a worker. A larger list is
// read by the scan in turn, a piece at a time.
constexpr std::uint32_t kAheadSize = 4 * 1024;

// A small list read whole ahead of the scan on a worker (or on the scan
// while it would wait), as one read at its size at open gives it; `read`
// false where the scan reads the list itself, in turn.
struct ReadAhead {
  std::vector<char> bytes;  // its capacity serves the slot's next list
  bool read = false;
};

// The pipeline's job for list `name`: ahead, the whole of a small list, or
// the list left to the scan (a larger one, or one that failed: the scan's
// own reading tells the error then); in turn, nothing. `listed`: what the
// walk tells of the folder (platform::Listed).
pipeline::JobEnd ReadListAhead(const common::WideString& name,
                               platform::Listed listed,
                               hash::HashContext& context, ReadAhead* out,
                               bool ahead);

// Parses a list read ahead into the parser's list, telling `stage`, and
// lets its bytes go.
ListEnd ParseReadAhead(ReadAhead& read, common::AlgorithmId algorithm,
                       digest::DigestParser& parser, run::Stage& stage);

// Reads list `name` a piece at a time into the parser's list, telling
// `stage`; a read that fails drops the list's records. Where no descriptor
// was free, `free_descriptors` lets the scan's helpers go theirs, and where
// it did (true), the list is opened again.
ListEnd ReadList(const common::WideString& name, platform::Listed listed,
                 common::AlgorithmId algorithm, digest::DigestParser& parser,
                 std::vector<char>& piece, platform::WorkerContext& context,
                 run::Stage& stage,
                 const std::function<bool()>& free_descriptors);

}  // namespace verify
