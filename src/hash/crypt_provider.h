#pragma once

#include "platform/crypto.h"

// Owns the cryptographic provider for the whole run.
class CryptProvider {
 public:
  CryptProvider() = default;
  ~CryptProvider() { Release(); }
  CryptProvider(const CryptProvider&) = delete;
  CryptProvider& operator=(const CryptProvider&) = delete;

  // Leaves the reason of a failure as the last error.
  bool Acquire();
  void Release();

  platform::ProviderHandle Handle() const { return handle_; }

 private:
  platform::ProviderHandle handle_ = platform::ProviderHandle::kNone;
};
