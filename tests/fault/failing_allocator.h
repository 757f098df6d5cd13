#pragma once

// operator new and delete replaced for the fault suite. Once armed, the
// allocations of every thread but the one that armed it (the desktop's, in
// the suite) succeed `allowed` times and then fail with std::bad_alloc, as
// they do in a process out of memory.
namespace failing_allocator {

void FailOtherThreadsAfter(long allowed);
void Disarm();

}  // namespace failing_allocator
