#pragma once

#include <memory>

#include "platform/crypto.h"

namespace hash {

// Owns the cryptographic provider for the whole run. A thread that may be
// left inside a call that never returns holds a share of it (Share), never
// a reference to its owner's: the provider is released once the last share
// lets it go. Threads: Acquire, Release and Share on one thread at a time;
// Handle on any holder's.
class CryptProvider {
 public:
  CryptProvider() = default;
  CryptProvider(const CryptProvider&) = delete;
  CryptProvider& operator=(const CryptProvider&) = delete;

  // Leaves the reason of a failure as the last error.
  bool Acquire();
  // Lets this share go.
  void Release() { held_.reset(); }
  // Another holder of the same provider; throws std::bad_alloc.
  std::shared_ptr<CryptProvider> Share() const;

  platform::ProviderHandle Handle() const {
    return held_ ? held_->handle : platform::ProviderHandle::kNone;
  }

 private:
  struct Held {
    Held() = default;
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    platform::ProviderHandle handle = platform::ProviderHandle::kNone;
  };
  std::shared_ptr<Held> held_;
};

}  // namespace hash
