#include "hash/crypt_provider.h"

#include "platform/last_error.h"

bool CryptProvider::Acquire() {
  Release();
  return platform::AcquireProvider(&handle_);
}

void CryptProvider::Release() {
  if (handle_ != platform::ProviderHandle::kNone) {
    const platform::PreserveLastError keep;
    platform::ReleaseProvider(handle_);
    handle_ = platform::ProviderHandle::kNone;
  }
}
