// Large files are handed out from a mapping, a window at a time, so that a
// block costs neither a system call nor a copy. The pages already hashed
// are dropped every 128 KiB and each window is unmapped once used up, so the
// program stays small whatever the file.
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/file.h"
#include "platform/last_error.h"

namespace platform {
namespace {

// Few windows (each costs a mapping), small residue (what is mapped counts
// as the program's memory until dropped).
constexpr std::uint32_t kWindowSize = 16 * 1024 * 1024;
constexpr std::uint32_t kDropSize = 128 * 1024;

// A file that shrinks while it is mapped raises SIGBUS at the first page
// past its new end. The handler maps a page of zeros there and marks the
// window lost: the hash finishes its block, and the next block fails like a
// read that failed. A fault anywhere else takes the default action.
std::atomic<const char*> g_window_begin{nullptr};
std::atomic<const char*> g_window_end{nullptr};
volatile sig_atomic_t g_window_lost = 0;
std::uintptr_t g_page_size = 4096;

void OnBusError(int /*signal*/, siginfo_t* info, void* /*context*/) {
  const char* at = static_cast<const char*>(info->si_addr);
  if (at >= g_window_begin.load() && at < g_window_end.load()) {
    void* page = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(at) &
                                         ~(g_page_size - 1));
    if (::mmap(page, g_page_size, PROT_READ,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      g_window_lost = 1;
      return;
    }
  }
  ::signal(SIGBUS, SIG_DFL);  // the access runs again, and ends the process
}

bool GuardAgainstShrinking() {
  static const bool installed = [] {
    g_page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  return installed;
}

}  // namespace

void InputFile::Unmap() {
  if (window_.base == nullptr) return;
  g_window_begin = nullptr;
  g_window_end = nullptr;
  ::munmap(const_cast<std::uint8_t*>(window_.base), window_.length);
  window_.base = nullptr;
}

// False past the size the file had when opened, or where the file cannot be
// mapped (a file system without mmap, no address space left): the caller
// reads on from the end of the last window.
bool InputFile::NextWindow() {
  Unmap();
  const std::uint64_t offset = window_.offset + window_.length;
  if (offset >= size_at_open_ || !GuardAgainstShrinking()) return false;
  const auto length = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(kWindowSize, size_at_open_ - offset));
  void* base = ::mmap(nullptr, length, PROT_READ, MAP_SHARED,
                      static_cast<int>(handle_), static_cast<off_t>(offset));
  if (base == MAP_FAILED) return false;
  ::madvise(base, length, MADV_SEQUENTIAL);
  window_ = {static_cast<const std::uint8_t*>(base), offset, length, 0};
  g_window_lost = 0;
  g_window_begin = static_cast<const char*>(base);
  g_window_end = static_cast<const char*>(base) + length;
  return true;
}

bool InputFile::ReadBlock(std::uint8_t* buffer, std::uint32_t size,
                          const std::uint8_t** block, std::uint32_t* read) {
  if (mapping_) {
    if (window_.base != nullptr && g_window_lost != 0) {
      g_window_lost = 0;  // the file shrank under the last block
      Unmap();
      mapping_ = false;
      SetLastErrorCode(EIO);
      return false;
    }
    if (window_.used < window_.length || NextWindow()) {
      if (window_.used % kDropSize == 0 && window_.used != 0) {
        ::madvise(
            const_cast<std::uint8_t*>(window_.base) + window_.used - kDropSize,
            kDropSize, MADV_DONTNEED);
      }
      *block = window_.base + window_.used;
      *read = std::min(size, window_.length - window_.used);
      window_.used += *read;
      return true;
    }
    mapping_ = false;
    const std::uint64_t next = window_.offset + window_.length;
    if (::lseek(static_cast<int>(handle_), static_cast<off_t>(next), SEEK_SET) <
        0) {
      return false;
    }
  }
  *block = buffer;
  return Read(buffer, size, read);
}

}  // namespace platform
