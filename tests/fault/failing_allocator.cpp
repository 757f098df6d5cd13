#include "fault/failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace failing_allocator {
namespace {
std::atomic<bool> armed{false};
std::atomic<long> left{0};
std::thread::id owner;  // written before `armed` turns true
}  // namespace

void FailOtherThreadsAfter(long allowed) {
  owner = std::this_thread::get_id();
  left.store(allowed);
  armed.store(true);
}

void Disarm() { armed.store(false); }

}  // namespace failing_allocator

// The runtime's other forms (arrays, nothrow, sized) come through these.
void* operator new(std::size_t size) {
  using namespace failing_allocator;
  if (armed.load() && std::this_thread::get_id() != owner &&
      left.fetch_sub(1) <= 0) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
// Replaced too: a sanitizer's runtime gives its own nothrow form, whose
// memory this file's delete must not free.
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
