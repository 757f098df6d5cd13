#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/crypto.h"
#include "platform/last_error.h"
#include "platform/posix/worker_state.h"

namespace platform {
namespace {

// A finished digest keeps its value, as CryptoAPI answers HP_HASHVAL again.
struct Hash {
  EVP_MD_CTX* context = nullptr;
  unsigned int size = 0;
  bool finished = false;
  unsigned char value[EVP_MAX_MD_SIZE];
  ~Hash() { EVP_MD_CTX_free(context); }
};

void FreeHash(void* hash) { delete static_cast<Hash*>(hash); }

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

Provider* ProviderOf(ProviderHandle handle) {
  return reinterpret_cast<Provider*>(static_cast<std::uintptr_t>(handle));
}
Hash* HashOf(HashHandle handle) {
  return reinterpret_cast<Hash*>(static_cast<std::uintptr_t>(handle));
}

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
  *provider =
      static_cast<ProviderHandle>(reinterpret_cast<std::uintptr_t>(fetched));
  return true;
}

void ReleaseProvider(ProviderHandle provider) { delete ProviderOf(provider); }

bool CreateHash(ProviderHandle provider, common::AlgorithmId algorithm,
                WorkerContext& context, HashHandle* hash) {
  const Provider* fetched = ProviderOf(provider);
  if (fetched == nullptr) return Fail(EINVAL);
  const EVP_MD* md = algorithm == common::CALG_MD5    ? fetched->md5
                     : algorithm == common::CALG_SHA1 ? fetched->sha1
                                                      : nullptr;
  if (md == nullptr) return Fail(EINVAL);
  void*& spare = context.Backend().spare_hash;
  Hash* made = static_cast<Hash*>(spare);
  spare = nullptr;
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
  *hash = static_cast<HashHandle>(reinterpret_cast<std::uintptr_t>(made));
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

void DestroyHash(HashHandle hash, WorkerContext& context) {
  WorkerContext::State& kept = context.Backend();
  if (kept.spare_hash == nullptr) {
    kept.spare_hash = HashOf(hash);
    kept.free_spare_hash = FreeHash;
  } else {
    delete HashOf(hash);
  }
}

}  // namespace platform
