#pragma once

// The seam's headers declare MB_*, IDYES, VK_* and CALG_* only where
// <windows.h> has not defined them, so either order of inclusion works.
#include <windows.h>
// After <windows.h>, which it builds on.
#include <wincrypt.h>

#include "common/wide_string.h"

namespace platform {
namespace win32 {

inline const wchar_t* W(const common::WideString& text) {
  return reinterpret_cast<const wchar_t*>(text.CStr());
}

}  // namespace win32
}  // namespace platform
