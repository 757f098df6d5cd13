#include "fault/failing_crypto.h"

#include <cstring>

#include "platform/crypto.h"

namespace failing_crypto {
Plan plan;
}

namespace platform {
namespace {

bool Fail() {
  SetLastErrorCode(failing_crypto::kCode);
  return false;
}

int live_hashes = 0;

}  // namespace

bool AcquireProvider(ProviderHandle* provider) {
  if (failing_crypto::plan.fail_acquire) return Fail();
  *provider = static_cast<ProviderHandle>(1);
  return true;
}

void ReleaseProvider(ProviderHandle) {}

bool CreateHash(ProviderHandle, AlgorithmId, WorkerContext&, HashHandle* hash) {
  int& left = failing_crypto::plan.creates_before_failure;
  if (left == 0) return Fail();
  if (left > 0) --left;
  ++live_hashes;
  *hash = static_cast<HashHandle>(live_hashes);
  return true;
}

bool HashData(HashHandle, const std::uint8_t*, std::uint32_t) { return true; }

bool GetHashSize(HashHandle, std::uint32_t* size) {
  *size = 16;
  return true;
}

bool GetHashValue(HashHandle, std::uint8_t* value, std::uint32_t* size) {
  if (failing_crypto::plan.fail_value || *size < 16) return Fail();
  std::memset(value, 0, 16);
  *size = 16;
  return true;
}

void DestroyHash(HashHandle, WorkerContext&) {}

}  // namespace platform
