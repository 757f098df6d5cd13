#include "support/utf.h"

#include <cstdint>

std::u16string U16(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      value = value << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += static_cast<std::size_t>(length);
    if (value >= 0x10000) {
      value -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(value));
    }
  }
  return out;
}

std::string U8(const std::u16string& utf16) {
  std::string out;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    std::uint32_t value = utf16[i];
    if (value >= 0xD800 && value < 0xDC00 && i + 1 < utf16.size()) {
      value = 0x10000 + ((value - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    }
    if (value < 0x80) {
      out.push_back(static_cast<char>(value));
    } else if (value < 0x800) {
      out.push_back(static_cast<char>(0xC0 | value >> 6));
      out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | value >> 12));
      out.push_back(static_cast<char>(0x80 | (value >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | value >> 18));
      out.push_back(static_cast<char>(0x80 | (value >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (value >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
  }
  return out;
}
