#pragma once

#include <cstddef>
#include <string>

#include "common/wide_string.h"

// The conversions of platform/code_page.h in a code page given, so that a
// suite can try one the machine is not set to (65001, which Wine cannot
// be). The seam passes the system ANSI code page, GetACP(), both ways: a
// name is read in the page it was written in, whatever the user's format.
namespace platform::win32 {

common::WideString AnsiToWideIn(unsigned code_page, const char* bytes,
                                std::size_t length);
common::WideString OtherReadingIn(unsigned code_page, const char* bytes,
                                  std::size_t length);
bool WideToAnsiIn(unsigned code_page, const common::WideString& text,
                  std::string* bytes);

}  // namespace platform::win32
