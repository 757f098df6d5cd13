#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/algorithm_id.h"
#include "common/wide_string.h"
#include "hash/crypt_provider.h"
#include "hash/hash_context.h"
#include "platform/file.h"

namespace hash {

// One hash object on a borrowed provider, for exactly one file, made on one
// thread's context.
class FileHash {
 public:
  FileHash(CryptProvider& provider, HashContext& context)
      : provider_(provider), context_(&context) {}
  // With a context of its own, for a single file off the pipeline.
  explicit FileHash(CryptProvider& provider);
  ~FileHash() { Destroy(); }
  FileHash(const FileHash&) = delete;
  FileHash& operator=(const FileHash&) = delete;

  bool Create(common::AlgorithmId algorithm);
  bool AddData(const std::uint8_t* data, std::uint32_t size);
  // The digest size in bytes, 0 when it cannot be had.
  std::uint32_t GetSize();
  // Fails when `size` is smaller than the digest; never stores more.
  bool GetValue(std::uint8_t* value, std::uint32_t size);
  void Destroy();

  HashContext& Context() { return *context_; }

 private:
  CryptProvider& provider_;
  std::unique_ptr<HashContext> own_context_;
  HashContext* context_;
  platform::HashHandle handle_ = platform::HashHandle::kNone;
};

// The largest digest the callers' buffers hold.
constexpr std::uint32_t kMaxDigestSize = 64;

// Feeds the whole file, front to back, into `hash`: small files in 4096-byte
// blocks, large ones in chunks into the context's buffer. A short read that
// reaches the size at open ends the file; a file that ends short of that
// size (it shrank under the reader) fails. Only ordinary disk files are
// hashed. On failure the reason is left as the last error.
bool HashFile(const common::WideString& name, FileHash& hash);

// How a file is hashed ahead of the pass, on a worker. Wherever it is
// hashed, the hash gives up after the call in hand once the context's job
// is stopped.
struct Ahead {
  // A file reached through a link the listing could not tell is not read
  // ahead (the pass may write it first); `through_link` says so.
  bool own_name_only = false;
  bool through_link = false;
};

// What a hash found of the file: whether the name opened, and, where
// `identify` asks for it, as which file (`identified`).
struct Opened {
  bool identify = false;
  bool opened = false;
  bool identified = false;
  platform::FileId identity;
  // Where given, set to `as` the moment the name opens, before any read:
  // the progress window names the reading being read.
  std::atomic<std::uint8_t>* tell = nullptr;
  std::uint8_t as = 0;
  // What a walk told of the folder the name is in, for the open.
  platform::Listed listed = platform::Listed::kNothing;
};
// The same, ahead of the pass; null: in the pass's turn. *opened, where
// given, tells whether the name opened, and which file it is.
bool HashFile(const common::WideString& name, FileHash& hash, Ahead* ahead,
              Opened* opened = nullptr);

}  // namespace hash
