#include "hash/file_hash.h"

#include "platform/file.h"
#include "platform/last_error.h"

bool FileHash::Create(AlgorithmId algorithm) {
  Destroy();
  return platform::CreateHash(provider_.Handle(), algorithm, &handle_);
}

bool FileHash::AddData(const std::uint8_t* data, std::uint32_t size) {
  return platform::HashData(handle_, data, size);
}

std::uint32_t FileHash::GetSize() {
  std::uint32_t size = 0;
  if (!platform::GetHashSize(handle_, &size)) return 0;
  return size;
}

bool FileHash::GetValue(std::uint8_t* value, std::uint32_t size) {
  return platform::GetHashValue(handle_, value, &size);
}

void FileHash::Destroy() {
  if (handle_ != 0) {
    const platform::PreserveLastError keep;  // callers report the failure
    platform::DestroyHash(handle_);
    handle_ = 0;
  }
}

bool HashFile(const WideString& name, FileHash& hash) {
  return HashFile(name, hash, nullptr);
}

bool HashFile(const WideString& name, FileHash& hash,
              const std::atomic<bool>* stop) {
  platform::InputFile file;
  if (!file.Open(name)) return false;
  std::uint8_t buffer[4096];
  for (;;) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
    const std::uint8_t* block = nullptr;
    std::uint32_t read = 0;
    if (!file.ReadBlock(buffer, sizeof buffer, &block, &read)) return false;
    if (read == 0) return true;
    if (!hash.AddData(block, read)) return false;
  }
}
