#pragma once

#include "platform/win32/windows_include.h"

namespace platform {
namespace win32 {

// A function looked up at run time rather than imported, typed as declared:
// DIGESTBOX_LOOKED_UP takes the pointer type from the function's declaration
// (the SDK's, or for the few the SDK lacks one of ours beside the call), so
// a wrong calling convention, which corrupts the stack on 32-bit x86 alone,
// fails the build instead of the run. Null where the module or the function
// is missing. Threads: any.
template <typename Pointer>
Pointer LookedUp(HMODULE module, const char* name) {
  return module == nullptr ? nullptr
                           : reinterpret_cast<Pointer>(reinterpret_cast<void*>(
                                 ::GetProcAddress(module, name)));
}

}  // namespace win32
}  // namespace platform

#define DIGESTBOX_LOOKED_UP(module, function) \
  ::platform::win32::LookedUp<decltype(&::function)>((module), #function)
