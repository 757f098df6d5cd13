#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Where names are bytes (POSIX): the locale's charset, which stands for both
// ANSI code pages there, and in which a terminal reads and writes. File
// names are bytes, so every byte sequence must survive the trip to UTF-16
// and back: a byte the charset cannot decode travels as its byte escape
// (common/unicode.h). Threads: any.
std::u16string DecodeLocale(const char* bytes, std::size_t length);

// Characters the charset lacks become '?' and clear *exact when given.
std::string EncodeLocale(std::u16string_view text, bool* exact = nullptr);
// Whether the locale's charset is UTF-8, where EncodeLocale is exact for
// every text but one holding lone surrogates or undecodable bytes.
bool LocaleIsUtf8();

}  // namespace platform
