#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "common/job_context.h"
#include "common/mutex.h"
#include "common/thread_starter.h"
#include "platform/file.h"
#include "platform/last_error.h"

namespace hash {

// Reads a large file's next chunk on a helper thread while its current one
// is hashed, so that one file costs about its hashing time. One helper per
// context, started on first use and kept for the context's life; it only
// ever reads while its owner waits for that read, so the file and the
// buffer it reads into outlive the read. Once its owner's job is stopped it
// reads no more: a read asked for then fails at once.
class ReadAhead {
 public:
  explicit ReadAhead(const common::JobContext& owner) : owner_(owner) {}
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Two buffers of `size` bytes, allocated on first use and kept, with the
  // helper started; false, buffers untouched, where either cannot be had
  // (the file is then read in line).
  bool Start(const common::ThreadStarter& start, std::uint32_t size,
             std::uint8_t* buffers[2]);
  // Asks the helper to read up to `size` bytes of `file` into `buffer`.
  void Read(platform::InputFile& file, std::uint8_t* buffer,
            std::uint32_t size);
  // Waits for that read; on failure *error is the helper's last error.
  bool Wait(std::uint32_t* read, platform::ErrorCode* error);
  bool Pending() const { return pending_; }

 private:
  // How long the helper looks for the next ask before it sleeps: about
  // SHA-1's time over one chunk, less its read.
  static constexpr std::chrono::microseconds kLookFor{300};
  void Serve();

  const common::JobContext& owner_;
  std::unique_ptr<std::uint8_t[]> buffers_;
  std::thread helper_;
  bool started_ = false;
  bool pending_ = false;  // the owner's: a read asked for and not waited for
  common::Mutex mutex_;
  common::CondVar asked_;
  common::CondVar answered_;
  platform::InputFile* file_ GUARDED_BY(mutex_) = nullptr;
  std::uint8_t* buffer_ GUARDED_BY(mutex_) = nullptr;
  std::uint32_t size_ GUARDED_BY(mutex_) = 0;
  bool answer_ GUARDED_BY(mutex_) = false;
  // Written under the mutex; also read without it while the helper looks.
  std::atomic<bool> request_{false};
  std::atomic<bool> quit_{false};
  bool ok_ GUARDED_BY(mutex_) = false;
  std::uint32_t read_ GUARDED_BY(mutex_) = 0;
  platform::ErrorCode error_ GUARDED_BY(mutex_) = 0;
};

}  // namespace hash
