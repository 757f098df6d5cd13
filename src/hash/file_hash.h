#pragma once

#include <atomic>
#include <cstdint>

#include "common/algorithm_id.h"
#include "common/wide_string.h"
#include "hash/crypt_provider.h"

// One hash object on a borrowed provider, for exactly one file.
class FileHash {
 public:
  explicit FileHash(CryptProvider& provider) : provider_(provider) {}
  ~FileHash() { Destroy(); }
  FileHash(const FileHash&) = delete;
  FileHash& operator=(const FileHash&) = delete;

  bool Create(AlgorithmId algorithm);
  bool AddData(const std::uint8_t* data, std::uint32_t size);
  // The digest size in bytes, 0 when it cannot be had.
  std::uint32_t GetSize();
  // Fails when `size` is smaller than the digest; never stores more.
  bool GetValue(std::uint8_t* value, std::uint32_t size);
  void Destroy();

 private:
  CryptProvider& provider_;
  platform::HashHandle handle_ = 0;
};

// The largest digest the callers' buffers hold.
constexpr std::uint32_t kMaxDigestSize = 64;

// Feeds the whole file, front to back in 4096-byte blocks, into `hash`.
// Only ordinary disk files are hashed. On failure the reason is left as the
// last error.
bool HashFile(const WideString& name, FileHash& hash);
// The same, giving up at the next block once *stop is true (the run that
// wanted the digest has ended).
bool HashFile(const WideString& name, FileHash& hash,
              const std::atomic<bool>* stop);
