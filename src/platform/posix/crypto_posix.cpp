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

// One hash kept per thread for the next file: allocating a digest context
// per file counts when a folder holds many small files.
struct SpareHash {
  Hash* hash = nullptr;
  ~SpareHash() { delete hash; }
};
thread_local SpareHash t_spare;

Provider* ProviderOf(ProviderHandle handle) {
  return reinterpret_cast<Provider*>(handle);
}
Hash* HashOf(HashHandle handle) { return reinterpret_cast<Hash*>(handle); }

bool Fail(int code) {
  SetLastErrorCode(static_cast<ErrorCode>(code));
  return false;
}

}  // namespace

bool AcquireProvider(ProviderHandle* provider) {
  Provider* fetched = new (std::nothrow) Provider;
  if (fetched == nullptr) return Fail(ENOMEM);
  fetched->md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  fetched->sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  if (fetched->md5 == nullptr || fetched->sha1 == nullptr) {
    delete fetched;
    return Fail(ENOSYS);
  }
  *provider = reinterpret_cast<ProviderHandle>(fetched);
  return true;
}

void ReleaseProvider(ProviderHandle provider) { delete ProviderOf(provider); }

bool CreateHash(ProviderHandle provider, AlgorithmId algorithm,
                HashHandle* hash) {
  const Provider* fetched = ProviderOf(provider);
  if (fetched == nullptr) return Fail(EINVAL);
  const EVP_MD* md = algorithm == CALG_MD5    ? fetched->md5
                     : algorithm == CALG_SHA1 ? fetched->sha1
                                              : nullptr;
  if (md == nullptr) return Fail(EINVAL);
  Hash* made = t_spare.hash;
  t_spare.hash = nullptr;
  if (made == nullptr) made = new (std::nothrow) Hash;
  if (made == nullptr) return Fail(ENOMEM);
  made->finished = false;
  if (made->context == nullptr) made->context = EVP_MD_CTX_new();
  if (made->context == nullptr ||
      EVP_DigestInit_ex(made->context, md, nullptr) != 1) {
    delete made;
    return Fail(ENOMEM);
  }
  made->size = static_cast<unsigned int>(EVP_MD_get_size(md));
  *hash = reinterpret_cast<HashHandle>(made);
  return true;
}

bool HashData(HashHandle hash, const std::uint8_t* data, std::uint32_t size) {
  Hash* state = HashOf(hash);
  if (state == nullptr || state->finished) return Fail(EINVAL);
  if (EVP_DigestUpdate(state->context, data, size) != 1) return Fail(EIO);
  return true;
}

bool GetHashSize(HashHandle hash, std::uint32_t* size) {
  const Hash* state = HashOf(hash);
  if (state == nullptr) return Fail(EINVAL);
  *size = state->size;
  return true;
}

bool GetHashValue(HashHandle hash, std::uint8_t* value, std::uint32_t* size) {
  Hash* state = HashOf(hash);
  if (state == nullptr) return Fail(EINVAL);
  if (*size < state->size)
    return Fail(EOVERFLOW);  // CryptoAPI: ERROR_MORE_DATA
  if (!state->finished) {
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state->context, state->value, &length) != 1) {
      return Fail(EIO);
    }
    state->finished = true;
  }
  std::memcpy(value, state->value, state->size);
  *size = state->size;
  return true;
}

void DestroyHash(HashHandle hash) {
  if (t_spare.hash == nullptr) {
    t_spare.hash = HashOf(hash);
  } else {
    delete HashOf(hash);
  }
}

}  // namespace platform
