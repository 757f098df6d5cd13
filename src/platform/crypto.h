#pragma once

#include <cstdint>

#include "common/algorithm_id.h"
#include "platform/worker_context.h"

namespace platform {

// Distinct types, so that one is never passed for the other.
enum class ProviderHandle : std::uintptr_t { kNone = 0 };
enum class HashHandle : std::uintptr_t { kNone = 0 };

// Every call returns the platform's outcome and leaves the reason of a
// failure as the last error.
// Threads: one provider serves every thread at once; a hash handle, and the
// context that made it, belong to one thread at a time.
bool AcquireProvider(ProviderHandle* provider);
void ReleaseProvider(ProviderHandle provider);
// The context may lend a digest kept from an earlier file.
bool CreateHash(ProviderHandle provider, common::AlgorithmId algorithm,
                WorkerContext& context, HashHandle* hash);
bool HashData(HashHandle hash, const std::uint8_t* data, std::uint32_t size);
bool GetHashSize(HashHandle hash, std::uint32_t* size);
// Stores at most *size bytes; fails when *size is smaller than the digest.
bool GetHashValue(HashHandle hash, std::uint8_t* value, std::uint32_t* size);
// The context may keep the digest for the next file.
void DestroyHash(HashHandle hash, WorkerContext& context);

}  // namespace platform
