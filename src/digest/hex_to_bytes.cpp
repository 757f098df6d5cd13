#include "digest/hex_to_bytes.h"

#include <array>

namespace digest {

namespace {

constexpr std::uint8_t Nibble(char16_t unit) {
  if (unit >= u'0' && unit <= u'9')
    return static_cast<std::uint8_t>(unit - u'0');
  if (unit >= u'a' && unit <= u'f')
    return static_cast<std::uint8_t>(unit - u'a' + 10);
  if (unit >= u'A' && unit <= u'F')
    return static_cast<std::uint8_t>(unit - u'A' + 10);
  return 0;
}

// Nibble of each byte, read as the unit it stands for.
constexpr std::array<std::uint8_t, 256> kNibbles = [] {
  std::array<std::uint8_t, 256> nibbles{};
  for (std::size_t byte = 0; byte < nibbles.size(); ++byte) {
    nibbles[byte] = Nibble(static_cast<char16_t>(byte));
  }
  return nibbles;
}();

std::uint8_t NibbleOf(char byte) {
  return kNibbles[static_cast<unsigned char>(byte)];
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
  // As Decode reads it, a pair at a time: a list holds many digests.
  std::size_t count = 0;
  for (std::size_t at = 0; count < max && at + 1 < text.size() &&
                           text[at] != '\0' && text[at + 1] != '\0';
       at += 2) {
    out[count++] = static_cast<std::uint8_t>(NibbleOf(text[at]) << 4 |
                                             NibbleOf(text[at + 1]));
  }
  return count;
}

}  // namespace digest
