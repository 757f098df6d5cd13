#include "hash/file_hash.h"

#include "platform/crypto.h"
#include "platform/file.h"
#include "platform/last_error.h"

namespace hash {

FileHash::FileHash(CryptProvider& provider)
    : provider_(provider),
      own_context_(std::make_unique<HashContext>()),
      context_(own_context_.get()) {}

bool FileHash::Create(common::AlgorithmId algorithm) {
  Destroy();
  return platform::CreateHash(provider_.Handle(), algorithm,
                              context_->Platform(), &handle_);
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
  if (handle_ != platform::HashHandle::kNone) {
    const platform::PreserveLastError keep;  // callers report the failure
    platform::DestroyHash(handle_, context_->Platform());
    handle_ = platform::HashHandle::kNone;
  }
}

namespace {

// Below this, a block or two of reads is the whole file.
constexpr std::uint64_t kChunkThreshold = std::uint64_t{8} * 1024;
// Below this, the helper would overlap too few reads to pay for its
// hand-overs, and where every CPU hashes a file of its own it overlaps none.
constexpr std::uint64_t kAheadThreshold =
    std::uint64_t{4} * HashContext::kAheadChunkSize;
constexpr std::uint32_t kBlockSize = 4096;

// Waits for a read the helper may still be doing into the file and the
// buffers, however the loop ends.
class ReadInHand {
 public:
  ReadInHand(HashContext& context, ReadAhead* helper)
      : context_(context), helper_(helper) {}
  ~ReadInHand() {
    if (helper_ != nullptr && helper_->Pending()) {
      std::uint32_t read = 0;
      platform::ErrorCode error = 0;
      const platform::PreserveLastError keep;
      const common::BlockingCall call(context_);
      helper_->Wait(&read, &error);
    }
  }
  ReadInHand(const ReadInHand&) = delete;
  ReadInHand& operator=(const ReadInHand&) = delete;

 private:
  HashContext& context_;
  ReadAhead* helper_;
};

// The next read into `buffer`: the one the helper was asked for, or one in
// line where there is no helper.
bool NextRead(platform::InputFile& file, ReadAhead* helper,
              std::uint8_t* buffer, std::uint32_t ask, std::uint32_t* read) {
  if (helper == nullptr) return file.Read(buffer, ask, read);
  platform::ErrorCode error = 0;
  if (helper->Wait(read, &error)) return true;
  platform::SetLastErrorCode(error);
  return false;
}

// What the open found, told to the caller.
void TellOpened(platform::InputFile& file, Opened& opened) {
  opened.opened = true;
  opened.identified = opened.identify && file.Identity(&opened.identity);
  if (opened.tell != nullptr) {
    opened.tell->store(opened.as, std::memory_order_relaxed);
  }
}

// The buffers a file of `size` bytes is read into, and the size of each
// read: the worker's chunk, or two with the helper that reads ahead (then
// returned), or the block on the stack.
ReadAhead* ChooseBuffers(HashContext& context, std::uint64_t size,
                         std::uint8_t* buffers[2], std::uint32_t* ask) {
  if (size >= kAheadThreshold) {
    ReadAhead* const helper = context.StartHelper(buffers);
    if (helper != nullptr) {
      *ask = HashContext::kAheadChunkSize;
      return helper;
    }
  }
  if (size >= kChunkThreshold) {
    if (std::uint8_t* chunk = context.Chunk()) {
      buffers[0] = chunk;
      *ask = HashContext::kChunkSize;
    }
  }
  return nullptr;
}

}  // namespace

bool HashFile(const common::WideString& name, FileHash& hash) {
  return HashFile(name, hash, nullptr);
}

bool HashFile(const common::WideString& name, FileHash& hash, Ahead* ahead,
              Opened* opened) {
  HashContext& context = hash.Context();
  platform::InputFile file;
  bool open = false;
  {
    const common::BlockingCall call(context);
    open = file.Open(
        name, context.Platform(),
        opened != nullptr ? opened->listed : platform::Listed::kNothing);
  }
  // Once the pass has ended, whatever the job would touch may be gone.
  if (context.Stopped() || !open) return false;
  if (opened != nullptr) TellOpened(file, *opened);
  if (ahead != nullptr && ahead->own_name_only && !file.UnderOwnName(name)) {
    ahead->through_link = true;
    return false;
  }
  const std::uint64_t size = file.SizeAtOpen();
  const HashContext::OneFile counted(context);
  std::uint8_t block[kBlockSize];
  std::uint8_t* buffers[2] = {block, nullptr};
  std::uint32_t ask = kBlockSize;
  ReadAhead* const helper = ChooseBuffers(context, size, buffers, &ask);
  const ReadInHand in_hand(context, helper);
  if (helper != nullptr) helper->Read(file, buffers[0], ask);
  std::uint64_t done = 0;
  for (int current = 0;; current ^= 1) {
    std::uint8_t* buffer = buffers[helper != nullptr ? current : 0];
    std::uint32_t read = 0;
    bool ok = false;
    {
      const common::BlockingCall call(context);
      ok = NextRead(file, helper, buffer, ask, &read);
    }
    if (context.Stopped() || !ok) return false;
    if (read == 0) {
      if (done >= size) return true;
      platform::SetLastErrorCode(platform::kErrorShortRead);
      return false;  // it shrank: what was read is not the file
    }
    done += read;
    // A further read, which would only see what was appended since, costs a
    // system call per file, and a folder may hold many small files.
    const bool at_end = read < ask && done == size;
    // The next chunk is read while this one is hashed.
    if (helper != nullptr && !at_end) {
      helper->Read(file, buffers[current ^ 1], ask);
    }
    if (!hash.AddData(buffer, read)) return false;
    context.CountBytes(read);
    if (at_end) return true;
  }
}

}  // namespace hash
