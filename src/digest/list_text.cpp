#include "digest/list_text.h"

#include <cstring>

#include "common/unicode.h"

ListText::ListText(const char* bytes, std::size_t size)
    : text_(bytes), size_(size) {
  if (size >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) {
    text_ += 3;
    size_ -= 3;
    encoding_ = ListEncoding::kUtf8;
  } else if (size >= 2 && std::memcmp(bytes, "\xFF\xFE", 2) == 0) {
    std::u16string units;
    units.reserve(size / 2);
    for (std::size_t i = 2; i + 1 < size; i += 2) {
      units.push_back(static_cast<char16_t>(
          static_cast<unsigned char>(bytes[i]) |
          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    converted_ = EncodeUtf8(units);
    // A lone last byte is no character: the file is malformed there, as it
    // is at a zero unit.
    if (size % 2 != 0) converted_.push_back('\0');
    text_ = converted_.data();
    size_ = converted_.size();
    encoding_ = ListEncoding::kUtf8;
  }
}
