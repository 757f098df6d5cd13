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

// Units from `next()` until `more()` is false or `max` bytes are stored.
template <typename More, typename Next>
std::size_t Decode(More more, Next next, std::uint8_t* out, std::size_t max) {
  std::size_t count = 0;
  bool pending = false;
  std::uint8_t high = 0;
  while (count < max && more()) {
    const std::uint8_t nibble = Nibble(next());
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

}  // namespace

std::size_t HexToBytes(const char16_t* text, std::uint8_t* out,
                       std::size_t max) {
  const char16_t* p = text;
  return Decode([&] { return *p != u'\0'; }, [&] { return *p++; }, out, max);
}

std::size_t HexToBytes(std::string_view text, std::uint8_t* out,
                       std::size_t max) {
  std::size_t at = 0;
  return Decode(
      [&] { return at < text.size() && text[at] != '\0'; },
      [&] {
        return static_cast<char16_t>(static_cast<unsigned char>(text[at++]));
      },
      out, max);
}
