#pragma once

#include <atomic>
#include <cstdint>

#include "common/wide_string.h"
#include "digest/digest_entry.h"
#include "hash/crypt_provider.h"
#include "hash/hash_context.h"
#include "pipeline/job_end.h"
#include "platform/last_error.h"

// One record's check: its file hashed under the reading of its name that
// the record means, and compared with its digest. Threads: any hashing
// thread, each call with its own context.
namespace verify {

enum class Check { kOk, kMismatch, kUnreadable, kHashFailed };

// The readings of a record's name, as the progress window is told of them.
constexpr std::uint8_t kCodePageReading = 1;
constexpr std::uint8_t kOtherReading = 2;

// One record's check, with the error code of a failure: the last error is
// per thread, and the record may have been checked on another.
struct Outcome {
  Check check = Check::kHashFailed;
  platform::ErrorCode error = 0;
  common::WideString shown;               // the reading the line names
  bool out_of_handles = false;            // an open found no descriptor free
  platform::ErrorCode handles_error = 0;  // with this code

  bool OutOfHandles() const { return out_of_handles; }
};

// One record's check, on a worker ahead of the pass or in the pass's turn.
// Ahead, a record whose file found no descriptor free is left to the pass.
// *mark is told each reading as it opens, and at the end the one the line
// names where that one opened. `listed`: what the walk told of the folder.
pipeline::JobEnd CheckOne(hash::CryptProvider& provider,
                          const digest::DigestEntry& entry,
                          platform::Listed listed, hash::HashContext& context,
                          std::atomic<std::uint8_t>* mark, Outcome* outcome,
                          bool on_worker);

}  // namespace verify
