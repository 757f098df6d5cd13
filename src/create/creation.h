#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "common/mutex.h"
#include "create/file_digest.h"
#include "create/list_files.h"
#include "hash/crypt_provider.h"
#include "output/digest_file_batch.h"
#include "pipeline/threads.h"
#include "platform/last_error.h"
#include "run/item_run.h"

namespace create {

// The digest files so far, as the pass leaves them.
struct Written {
  std::size_t count = 0;    // files whose digest file took its name, in order
  std::size_t staged = 0;   // after them: written, not yet in place
  bool committing = false;  // the pass puts the staged files in place
  bool flushing = false;    // every file done, and the flush begun
  bool failed = false;
  platform::ErrorCode failure = 0;
  common::WideString failed_name;  // the file whose name could not be written
};

// One creation: the listed files, hashed ahead and written in turn; shared
// with the pass's thread and the workers, which may outlive the call.
struct Creation : run::ItemRun<Digest, Written> {
  Creation(std::shared_ptr<const std::vector<File>> files_in,
           const pipeline::Threads& threads, hash::CryptProvider& provider_in,
           common::AlgorithmId algorithm_in, std::shared_ptr<common::Stop> stop)
      : ItemRun(
            files_in->size(), threads, provider_in,
            [files = files_in, algorithm_in](
                hash::CryptProvider& provider, std::size_t i,
                hash::HashContext& context, std::atomic<std::uint8_t>* mark,
                Digest* digest, bool on_worker) {
              return HashOne(provider, algorithm_in, (*files)[i].name, context,
                             mark, digest, on_worker);
            },
            [files = files_in](std::size_t i) { return (*files)[i].in_turn; },
            std::move(stop)),
        files(std::move(files_in)),
        algorithm(algorithm_in) {}

  const std::shared_ptr<const std::vector<File>> files;
  const common::AlgorithmId algorithm;
  // Under it the pass stages, commits and tells so_far; after a cancel that
  // left the pass inside a read, a thread of its own commits the staged.
  common::Mutex staging;
  output::DigestFileBatch batch GUARDED_BY(staging);
};

}  // namespace create
