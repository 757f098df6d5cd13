#pragma once

#include <cstdint>

#include "common/algorithm_id.h"

namespace platform {

using ProviderHandle = std::uintptr_t;  // 0: none
using HashHandle = std::uintptr_t;      // 0: none

// Every call returns the platform's outcome and leaves the reason of a
// failure as the last error.
bool AcquireProvider(ProviderHandle* provider);
void ReleaseProvider(ProviderHandle provider);
bool CreateHash(ProviderHandle provider, AlgorithmId algorithm,
                HashHandle* hash);
bool HashData(HashHandle hash, const std::uint8_t* data, std::uint32_t size);
bool GetHashSize(HashHandle hash, std::uint32_t* size);
// Stores at most *size bytes; fails when *size is smaller than the digest.
bool GetHashValue(HashHandle hash, std::uint8_t* value, std::uint32_t* size);
void DestroyHash(HashHandle hash);

}  // namespace platform
