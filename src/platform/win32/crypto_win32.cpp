#include "platform/crypto.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace {

HCRYPTPROV ProviderOf(ProviderHandle handle) {
  return static_cast<HCRYPTPROV>(handle);
}
HCRYPTHASH HashOf(HashHandle handle) { return static_cast<HCRYPTHASH>(handle); }

}  // namespace

bool AcquireProvider(ProviderHandle* provider) {
  HCRYPTPROV handle = 0;
  // Verify-context: no key container is opened or created.
  if (!::CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  *provider = static_cast<ProviderHandle>(handle);
  return true;
}

void ReleaseProvider(ProviderHandle provider) {
  ::CryptReleaseContext(ProviderOf(provider), 0);
}

bool CreateHash(ProviderHandle provider, common::AlgorithmId algorithm,
                WorkerContext& /*context*/, HashHandle* hash) {
  HCRYPTHASH handle = 0;
  if (!::CryptCreateHash(ProviderOf(provider), algorithm, 0, 0, &handle)) {
    return false;
  }
  *hash = static_cast<HashHandle>(handle);
  return true;
}

bool HashData(HashHandle hash, const std::uint8_t* data, std::uint32_t size) {
  return ::CryptHashData(HashOf(hash), data, size, 0) != FALSE;
}

bool GetHashSize(HashHandle hash, std::uint32_t* size) {
  DWORD value = 0;
  DWORD length = sizeof value;
  if (!::CryptGetHashParam(HashOf(hash), HP_HASHSIZE,
                           reinterpret_cast<BYTE*>(&value), &length, 0)) {
    return false;
  }
  *size = value;
  return true;
}

bool GetHashValue(HashHandle hash, std::uint8_t* value, std::uint32_t* size) {
  DWORD length = *size;
  if (!::CryptGetHashParam(HashOf(hash), HP_HASHVAL, value, &length, 0))
    return false;
  *size = length;
  return true;
}

void DestroyHash(HashHandle hash, WorkerContext& /*context*/) {
  ::CryptDestroyHash(HashOf(hash));
}

}  // namespace platform
