#pragma once

#include <string>

// UTF-8 to UTF-16 and back, for readable expectations.
std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& utf16);
