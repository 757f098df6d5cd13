#include "digest/hex_to_bytes.h"

namespace {

std::uint8_t Nibble(char16_t unit) {
  if (unit >= u'0' && unit <= u'9')
    return static_cast<std::uint8_t>(unit - u'0');
  if (unit >= u'a' && unit <= u'f')
    return static_cast<std::uint8_t>(unit - u'a' + 10);
  if (unit >= u'A' && unit <= u'F')
    return static_cast<std::uint8_t>(unit - u'A' + 10);
  return 0;
}

}  // namespace

std::size_t HexToBytes(const char16_t* text, std::uint8_t* out,
                       std::size_t max) {
  std::size_t count = 0;
  bool pending = false;
  std::uint8_t high = 0;
  for (const char16_t* p = text; *p != u'\0' && count < max; ++p) {
    const std::uint8_t nibble = Nibble(*p);
    if (!pending) {
      high = nibble;
      pending = true;
    } else {
      out[count++] = static_cast<std::uint8_t>(high << 4 | nibble);
      pending = false;
    }
  }
  return count;
}
