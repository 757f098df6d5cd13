#include "platform/crypto.h"
#include "platform/win32/windows_include.h"

namespace platform {

bool AcquireProvider(ProviderHandle* provider) {
  HCRYPTPROV handle = 0;
  // Verify-context: no key container is opened or created.
  if (!::CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  *provider = handle;
  return true;
}

void ReleaseProvider(ProviderHandle provider) {
  ::CryptReleaseContext(provider, 0);
}

bool CreateHash(ProviderHandle provider, AlgorithmId algorithm,
                HashHandle* hash) {
  HCRYPTHASH handle = 0;
  if (!::CryptCreateHash(provider, algorithm, 0, 0, &handle)) return false;
  *hash = handle;
  return true;
}

bool HashData(HashHandle hash, const std::uint8_t* data, std::uint32_t size) {
  return ::CryptHashData(hash, data, size, 0) != FALSE;
}

bool GetHashSize(HashHandle hash, std::uint32_t* size) {
  DWORD value = 0;
  DWORD length = sizeof value;
  if (!::CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&value),
                           &length, 0)) {
    return false;
  }
  *size = value;
  return true;
}

bool GetHashValue(HashHandle hash, std::uint8_t* value, std::uint32_t* size) {
  DWORD length = *size;
  if (!::CryptGetHashParam(hash, HP_HASHVAL, value, &length, 0)) return false;
  *size = length;
  return true;
}

void DestroyHash(HashHandle hash) { ::CryptDestroyHash(hash); }

}  // namespace platform
