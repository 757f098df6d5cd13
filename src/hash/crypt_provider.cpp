#include "hash/crypt_provider.h"

#include "platform/last_error.h"

bool CryptProvider::Acquire() {
  Release();
  return platform::AcquireProvider(&handle_);
}

void CryptProvider::Release() {
  if (handle_ != 0) {
    const platform::PreserveLastError keep;
    platform::ReleaseProvider(handle_);
    handle_ = 0;
  }
}
