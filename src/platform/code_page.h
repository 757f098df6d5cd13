#pragma once

#include <cstddef>
#include <string>

#include "common/wide_string.h"

namespace platform {

// Threads: every conversion may run on any number of threads at once.

// Bytes in the system ANSI code page, the one WideToAnsi writes, to UTF-16
// (not the thread's, which follows the user's format and may differ). A run
// of length 0 gives an absent string. Throws std::bad_alloc when the string
// cannot be allocated.
common::WideString AnsiToWide(const char* bytes, std::size_t length);

// A name from a list marked as UTF-8. Where names are UTF-16 (Windows), its
// UTF-8 reading, or the code page's where the bytes are not UTF-8; where
// names are bytes (POSIX), as AnsiToWide.
common::WideString Utf8ToWide(const char* bytes, std::size_t length);

// A second reading of a name read in the code page, for a list written
// elsewhere in UTF-8: where names are UTF-16 and the code page is not UTF-8,
// the UTF-8 reading of bytes that are valid UTF-8 and hold a non-ASCII byte.
// Absent otherwise.
common::WideString OtherReading(const char* bytes, std::size_t length);

// The bytes a written record names a file by: the system ANSI code page
// where it holds the name exactly (no default character, no look-alike);
// else, where names are UTF-16, UTF-8, the form every other tool writes, so
// the record verifies here and elsewhere. Fails, the reason left as the last
// error, where the platform refuses the conversion, for a name that UTF-8
// cannot hold, or where the UTF-8 bytes read in the code page name another
// existing file (the record would check that file).
bool WideToAnsi(const common::WideString& text, std::string* bytes);

}  // namespace platform
