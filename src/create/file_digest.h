#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "common/wide_string.h"
#include "digest/digest_record.h"
#include "hash/crypt_provider.h"
#include "hash/file_hash.h"
#include "hash/hash_context.h"
#include "output/digest_file_batch.h"
#include "pipeline/job_end.h"
#include "platform/last_error.h"

// One file's digest as creation finds it, and its digest file staged.
// Threads: HashOne on any hashing thread, each call with its own context;
// the rest on the pass's.
namespace create {

// A file's digest, or the failure and its own error code: the last error
// is per thread, and the file may have been hashed on another.
struct Digest {
  bool ok = false;
  platform::ErrorCode error = 0;
  std::uint32_t size = 0;
  std::uint8_t value[hash::kMaxDigestSize] = {};

  // It failed for want of a free descriptor.
  bool OutOfHandles() const { return !ok && platform::IsOutOfHandles(error); }
};

// Hashes one file, on a worker ahead of the pass or in the pass's turn.
// Ahead, a file reached through a link the listing could not tell, or one
// that found no descriptor free, is left to the pass. *opened, where given,
// is set to 1 as the file opens (the progress window names it then).
pipeline::JobEnd HashOne(hash::CryptProvider& provider,
                         common::AlgorithmId algorithm,
                         const common::WideString& name,
                         hash::HashContext& context,
                         std::atomic<std::uint8_t>* opened, Digest* digest,
                         bool on_worker);

// The digest of what the pass staged for a digest file it now reads: the
// bytes a single pass would find there, without flushing them into place
// first.
void HashStaged(hash::CryptProvider& provider, common::AlgorithmId algorithm,
                std::string_view data, Digest* digest);

// Stages one file's digest file; false on the first failure, with its code
// in *error, and *of_name set where the name itself cannot be written.
bool WriteDigestFile(output::DigestFileBatch& batch,
                     const common::WideString& extension,
                     const common::WideString& name, const Digest& digest,
                     platform::ErrorCode* error, bool* of_name);

}  // namespace create
