// Pages already hashed are dropped every 128 KiB and each window is unmapped
// once used up, so the program stays small whatever the file.
#include "platform/posix/mapped_reader.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/last_error.h"

namespace platform::posix {
namespace {

// Few windows (each costs a mapping), small residue (what is mapped counts
// as the program's memory until dropped).
constexpr std::uint32_t kWindowSize = 16 * 1024 * 1024;
constexpr std::uint32_t kDropSize = 128 * 1024;
// Below this, a few reads cost less than mapping and unmapping.
constexpr std::uint64_t kMapThreshold = std::uint64_t{1} << 20;

// A file that shrinks while it is mapped raises SIGBUS at the first page past
// its new end. The handler maps a page of zeros there and marks the window
// lost: the hash finishes its block, and the next block fails like a read
// that failed. The bounds are the faulting thread's own window.
thread_local const char* t_window_begin = nullptr;
thread_local const char* t_window_end = nullptr;
thread_local volatile sig_atomic_t t_window_lost = 0;
std::uintptr_t g_page_size = 4096;
struct sigaction g_previous;

// Any other SIGBUS (one sent with kill, a fault outside every window) gets
// the action that was there before: by default, the process ends.
void PassOn(int signal, siginfo_t* info, void* context) {
  if ((g_previous.sa_flags & SA_SIGINFO) != 0) {
    g_previous.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
    return;
  }
  ::sigaction(SIGBUS, &g_previous, nullptr);
  // A fault runs its access again and meets that action; a sent signal is
  // sent again, to be taken when this handler returns.
  if (info->si_code <= 0) ::raise(SIGBUS);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const char* at = static_cast<const char*>(info->si_addr);
  const bool kernel = info->si_code > 0;  // SI_USER, SI_QUEUE, SI_TKILL are not
  if (kernel && at >= t_window_begin && at < t_window_end) {
    void* page = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(at) &
                                         ~(g_page_size - 1));
    if (::mmap(page, g_page_size, PROT_READ,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      t_window_lost = 1;
      return;
    }
  }
  PassOn(signal, info, context);
}

bool GuardAgainstShrinking() {
  static const bool installed = [] {
    g_page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, &g_previous) == 0;
  }();
  return installed;
}

}  // namespace

void MappedReader::Start(int fd, std::uint64_t size) {
  fd_ = fd;
  mapping_ = size >= kMapThreshold;
  mapped_ = false;
  size_at_open_ = size;
  base_ = nullptr;
  offset_ = 0;
  length_ = 0;
  used_ = 0;
}

void MappedReader::Unmap() {
  if (base_ == nullptr) return;
  t_window_begin = nullptr;
  t_window_end = nullptr;
  ::munmap(const_cast<std::uint8_t*>(base_), length_);
  base_ = nullptr;
}

void MappedReader::Stop() {
  Unmap();
  mapping_ = false;
}

// False past the size the file had when opened, or where the file cannot be
// mapped (a file system without mmap, no address space left).
bool MappedReader::NextWindow() {
  Unmap();
  const std::uint64_t offset = offset_ + length_;
  if (offset >= size_at_open_ || !GuardAgainstShrinking()) return false;
  const auto length = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(kWindowSize, size_at_open_ - offset));
  void* base = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_,
                      static_cast<off_t>(offset));
  if (base == MAP_FAILED) return false;
  ::madvise(base, length, MADV_SEQUENTIAL);
  base_ = static_cast<const std::uint8_t*>(base);
  offset_ = offset;
  length_ = length;
  used_ = 0;
  mapped_ = true;
  t_window_lost = 0;
  t_window_begin = static_cast<const char*>(base);
  t_window_end = static_cast<const char*>(base) + length;
  return true;
}

bool MappedReader::Next(std::uint32_t size, const std::uint8_t** block,
                        std::uint32_t* read) {
  *read = 0;
  if (!mapping_) return true;
  if (base_ != nullptr && t_window_lost != 0) {
    t_window_lost = 0;  // the file shrank under the last block
    Stop();
    SetLastErrorCode(EIO);
    return false;
  }
  if (used_ < length_ || NextWindow()) {
    if (used_ % kDropSize == 0 && used_ != 0) {
      ::madvise(const_cast<std::uint8_t*>(base_) + used_ - kDropSize, kDropSize,
                MADV_DONTNEED);
    }
    *block = base_ + used_;
    *read = std::min(size, length_ - used_);
    used_ += *read;
    return true;
  }
  Stop();
  const std::uint64_t next = offset_ + length_;
  return ::lseek(fd_, static_cast<off_t>(next), SEEK_SET) >= 0;
}

bool MappedReader::CheckNotShrunk() const {
  if (!mapped_) return true;
  struct stat info;
  if (::fstat(fd_, &info) != 0) return false;
  if (static_cast<std::uint64_t>(info.st_size) >= size_at_open_) return true;
  SetLastErrorCode(EIO);
  return false;
}

}  // namespace platform::posix
