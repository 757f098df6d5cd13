#include "create/file_digest.h"

#include <string>

namespace create {

// Hashes one file, on a worker ahead of the pass or in the pass's turn.
// Ahead, a file reached through a link the listing could not tell, or one
// that found no descriptor free, is left to the pass.
pipeline::JobEnd HashOne(hash::CryptProvider& provider,
                         common::AlgorithmId algorithm,
                         const common::WideString& name,
                         hash::HashContext& context,
                         std::atomic<std::uint8_t>* opened, Digest* digest,
                         bool on_worker) {
  hash::FileHash hash(provider, context);
  hash::Ahead ahead;
  ahead.own_name_only = true;
  hash::Opened told;
  told.tell = opened;
  told.as = 1;
  digest->ok = hash.Create(algorithm) &&
               hash::HashFile(name, hash, on_worker ? &ahead : nullptr, &told);
  if (digest->ok) {
    digest->size = hash.GetSize();
    digest->ok = hash.GetValue(digest->value, digest->size);
  }
  if (digest->ok) return pipeline::JobEnd::kDone;
  digest->error = platform::GetLastErrorCode();
  return pipeline::EndOfJob(on_worker, context.Stopped() || ahead.through_link,
                            digest->OutOfHandles());
}

// Stages one file's digest file; false on the first failure, with its code
// in *error.
bool WriteDigestFile(output::DigestFileBatch& batch,
                     const common::WideString& extension,
                     const common::WideString& name, const Digest& digest,
                     platform::ErrorCode* error, bool* of_name) {
  *of_name = false;
  if (!digest.ok) {
    *error = digest.error;
    return false;
  }
  // Converted before the output exists, so a name the code page cannot take
  // never leaves a digest file of digits alone.
  std::string record;
  if (!digest::FormatDigestRecord(digest.value, digest.size, name, &record)) {
    *error = platform::GetLastErrorCode();
    *of_name = true;
    return false;
  }
  const bool ok = batch.Stage(digest::DigestFileName(name, extension), record);
  if (!ok) *error = platform::GetLastErrorCode();
  return ok;
}

// The digest of what the pass staged for a digest file it now reads: the
// bytes a single pass would find there, without flushing them into place
// first.
void HashStaged(hash::CryptProvider& provider, common::AlgorithmId algorithm,
                std::string_view data, Digest* digest) {
  hash::HashContext context;
  hash::FileHash hash(provider, context);
  digest->ok = hash.Create(algorithm) &&
               hash.AddData(reinterpret_cast<const std::uint8_t*>(data.data()),
                            static_cast<std::uint32_t>(data.size()));
  if (digest->ok) {
    digest->size = hash.GetSize();
    digest->ok = hash.GetValue(digest->value, digest->size);
  }
  if (!digest->ok) digest->error = platform::GetLastErrorCode();
}

}  // namespace create
