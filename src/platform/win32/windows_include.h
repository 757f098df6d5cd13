#pragma once

// Included after the seam's headers: <windows.h> then redefines the Win32
// names they declare (MB_*, IDYES, VK_*, CALG_*) as macros of equal value.
#include <windows.h>
#include <wincrypt.h>

#include "common/wide_string.h"

namespace platform {
namespace win32 {

inline const wchar_t* W(const WideString& text) {
  return reinterpret_cast<const wchar_t*>(text.CStr());
}

}  // namespace win32
}  // namespace platform
