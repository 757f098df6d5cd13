#pragma once

#include <cstddef>
#include <string>

#include "common/wide_string.h"

namespace platform {

// Bytes in the thread's ANSI code page to UTF-16. A run of length 0 gives an
// absent string. Throws std::bad_alloc when the string cannot be allocated.
WideString AnsiToWide(const char* bytes, std::size_t length);

// UTF-16 to the system ANSI code page. Characters the code page lacks become
// its default character, never a look-alike. Fails only when the platform
// refuses the conversion; the reason is left as the last error.
bool WideToAnsi(const WideString& text, std::string* bytes);

}  // namespace platform
