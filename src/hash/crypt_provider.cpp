#include "hash/crypt_provider.h"

#include <new>

#include "platform/last_error.h"

namespace hash {

CryptProvider::Held::~Held() {
  if (handle != platform::ProviderHandle::kNone) {
    const platform::PreserveLastError keep;
    platform::ReleaseProvider(handle);
  }
}

bool CryptProvider::Acquire() {
  Release();
  std::shared_ptr<Held> held;
  try {
    held = std::make_shared<Held>();
  } catch (const std::bad_alloc&) {
    platform::SetLastErrorCode(platform::kErrorNotEnoughMemory);
    return false;
  }
  if (!platform::AcquireProvider(&held->handle)) return false;
  held_ = std::move(held);
  return true;
}

std::shared_ptr<CryptProvider> CryptProvider::Share() const {
  auto share = std::make_shared<CryptProvider>();
  share->held_ = held_;
  return share;
}

}  // namespace hash
