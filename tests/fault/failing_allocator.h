#pragma once

// operator new replaced for the fault suite: once armed, the allocations of
// every thread but the arming one (the desktop's, in the suite) succeed
// `allowed` times, then fail with std::bad_alloc, as out of memory.
namespace failing_allocator {
void FailOtherThreadsAfter(long allowed);
void Disarm();
}  // namespace failing_allocator
