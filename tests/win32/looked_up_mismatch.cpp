// Built when the tests are configured, twice: as it stands it must build,
// and with DIGESTBOX_MISMATCH, which takes a looked-up function into a
// pointer of another calling convention, it must not. The two differ on
// 32-bit x86 alone, where calling through the wrong one corrupts the stack.
#include "platform/win32/looked_up.h"

#ifdef DIGESTBOX_MISMATCH
using SetDirectories = BOOL(CDECL*)(DWORD);
#else
using SetDirectories = BOOL(WINAPI*)(DWORD);
#endif

bool Looked() {
  const SetDirectories set = DIGESTBOX_LOOKED_UP(
      ::GetModuleHandleW(L"kernel32.dll"), SetDefaultDllDirectories);
  return set != nullptr;
}
