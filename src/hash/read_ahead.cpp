#include "hash/read_ahead.h"

#include <chrono>
#include <new>
#include <thread>

namespace hash {

ReadAhead::~ReadAhead() {
  if (!started_) return;
  {
    const common::Lock lock(mutex_);
    quit_ = true;
  }
  asked_.NotifyOne();
  helper_.join();
}

bool ReadAhead::Start(const common::ThreadStarter& start, std::uint32_t size,
                      std::uint8_t* buffers[2]) {
  if (!buffers_) {
    buffers_.reset(new (std::nothrow) std::uint8_t[std::size_t{2} * size]);
  }
  if (!buffers_) return false;
  if (!started_) started_ = start([this] { Serve(); }, &helper_);
  if (!started_) return false;
  buffers[0] = buffers_.get();
  buffers[1] = buffers_.get() + size;
  return true;
}

void ReadAhead::Read(platform::InputFile& file, std::uint8_t* buffer,
                     std::uint32_t size) {
  {
    const common::Lock lock(mutex_);
    file_ = &file;
    buffer_ = buffer;
    size_ = size;
    request_ = true;
    answer_ = false;
  }
  pending_ = true;
  asked_.NotifyOne();
}

bool ReadAhead::Wait(std::uint32_t* read, platform::ErrorCode* error) {
  common::Lock lock(mutex_);
  while (!answer_) answered_.Wait(lock);
  pending_ = false;
  *read = read_;
  *error = error_;
  return ok_;
}

// The helper's whole life: it allocates nothing (a read into a buffer
// given, under a lock), so no failed allocation can leave its thread.
void ReadAhead::Serve() {
  common::Lock lock(mutex_);
  for (;;) {
    if (!request_ && !quit_) {
      // The next chunk is asked for once this one is hashed. Waking a
      // sleeping helper costs the hasher a system call and, on a virtual
      // machine, an exit to the host; so look for the ask a while first,
      // yielding the CPU to any thread that wants it meanwhile.
      lock.Unlock();
      const auto until = std::chrono::steady_clock::now() + kLookFor;
      while (!request_ && !quit_ && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
      }
      lock.Relock();
    }
    while (!request_ && !quit_) asked_.Wait(lock);
    if (quit_) return;
    request_ = false;
    platform::InputFile* file = file_;
    std::uint8_t* buffer = buffer_;
    const std::uint32_t size = size_;
    lock.Unlock();
    std::uint32_t read = 0;
    const bool ok = !owner_.Stopped() && file->Read(buffer, size, &read);
    const platform::ErrorCode error = ok ? 0 : platform::GetLastErrorCode();
    lock.Relock();
    ok_ = ok;
    read_ = read;
    error_ = error;
    answer_ = true;
    answered_.NotifyOne();
  }
}

}  // namespace hash
