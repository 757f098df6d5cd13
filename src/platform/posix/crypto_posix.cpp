#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/crypto.h"
#include "platform/last_error.h"

namespace platform {
namespace {

// The algorithms are fetched once per run: an implicit fetch at every
// digest start costs more than hashing a small file.
struct Provider {
  EVP_MD* md5 = nullptr;
  EVP_MD* sha1 = nullptr;
  ~Provider() {
    EVP_MD_free(md5);
    EVP_MD_free(sha1);
  }
};

// A finished digest keeps its value, as CryptoAPI answers HP_HASHVAL again.
struct Hash {
  EVP_MD_CTX* context = nullptr;
  unsigned int size = 0;
  bool finished = false;
  unsigned char value[EVP_MAX_MD_SIZE];
  ~Hash() { EVP_MD_CTX_free(context); }
};

Provider* ProviderOf(ProviderHandle handle) {
  return reinterpret_cast<Provider*>(handle);
}
Hash* HashOf(HashHandle handle) { return reinterpret_cast<Hash*>(handle); }

bool Fail(int code) {
  SetLastErrorCode(static_cast<ErrorCode>(code));
  return false;
}

}  // namespace

bool AcquireProvider(ProviderHandle* handle) {
  Provider* provider = new (std::nothrow) Provider;
  if (provider == nullptr) return Fail(ENOMEM);
  provider->md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  provider->sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  if (provider->md5 == nullptr || provider->sha1 == nullptr) {
    delete provider;
    return Fail(ENOSYS);
  }
  *handle = reinterpret_cast<ProviderHandle>(provider);
  return true;
}

void ReleaseProvider(ProviderHandle handle) { delete ProviderOf(handle); }

bool CreateHash(ProviderHandle provider_handle, AlgorithmId algorithm,
                HashHandle* handle) {
  Provider* provider = ProviderOf(provider_handle);
  if (provider == nullptr) return Fail(EINVAL);
  const EVP_MD* md = algorithm == CALG_MD5    ? provider->md5
                     : algorithm == CALG_SHA1 ? provider->sha1
                                              : nullptr;
  if (md == nullptr) return Fail(EINVAL);
  Hash* hash = new (std::nothrow) Hash;
  if (hash == nullptr) return Fail(ENOMEM);
  hash->context = EVP_MD_CTX_new();
  if (hash->context == nullptr ||
      EVP_DigestInit_ex(hash->context, md, nullptr) != 1) {
    delete hash;
    return Fail(ENOMEM);
  }
  hash->size = static_cast<unsigned int>(EVP_MD_get_size(md));
  *handle = reinterpret_cast<HashHandle>(hash);
  return true;
}

bool HashData(HashHandle handle, const std::uint8_t* data, std::uint32_t size) {
  Hash* hash = HashOf(handle);
  if (hash == nullptr || hash->finished) return Fail(EINVAL);
  if (EVP_DigestUpdate(hash->context, data, size) != 1) return Fail(EIO);
  return true;
}

bool GetHashSize(HashHandle handle, std::uint32_t* size) {
  Hash* hash = HashOf(handle);
  if (hash == nullptr) return Fail(EINVAL);
  *size = hash->size;
  return true;
}

bool GetHashValue(HashHandle handle, std::uint8_t* value, std::uint32_t* size) {
  Hash* hash = HashOf(handle);
  if (hash == nullptr) return Fail(EINVAL);
  if (*size < hash->size) return Fail(EOVERFLOW);  // CryptoAPI: ERROR_MORE_DATA
  if (!hash->finished) {
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(hash->context, hash->value, &length) != 1) {
      return Fail(EIO);
    }
    hash->finished = true;
  }
  std::memcpy(value, hash->value, hash->size);
  *size = hash->size;
  return true;
}

void DestroyHash(HashHandle handle) { delete HashOf(handle); }

}  // namespace platform
