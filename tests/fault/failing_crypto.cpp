#include "fault/failing_crypto.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/crypto.h"

namespace failing_crypto {
Plan plan;
Gate gate;
}  // namespace failing_crypto

namespace platform {
namespace {

bool Fail() {
  SetLastErrorCode(failing_crypto::kCode);
  return false;
}

// Hashes are made on the pass and the workers at once.
std::atomic<int> hashes_made{0};
std::mutex creating;  // the plan's count of creates left

}  // namespace

bool AcquireProvider(ProviderHandle* provider) {
  if (failing_crypto::plan.fail_acquire) return Fail();
  *provider = static_cast<ProviderHandle>(1);
  return true;
}

void ReleaseProvider(ProviderHandle) {}

bool CreateHash(ProviderHandle, common::AlgorithmId, WorkerContext&,
                HashHandle* hash) {
  {
    const std::lock_guard<std::mutex> lock(creating);
    int& left = failing_crypto::plan.creates_before_failure;
    if (left == 0) return Fail();
    if (left > 0) --left;
  }
  *hash = static_cast<HashHandle>(hashes_made.fetch_add(1) + 1);
  return true;
}

bool HashData(HashHandle, const std::uint8_t*, std::uint32_t) {
  failing_crypto::Gate& gate = failing_crypto::gate;
  if (gate.data_calls.fetch_add(1) == failing_crypto::plan.blocked_data_call) {
    gate.entered.store(true);
    while (!gate.open.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

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
