#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace common {

// UTF-8 and UTF-16 as every platform has them, and the one rule by which a
// byte that no charset decodes travels through UTF-16 text: as the lone
// surrogate U+DC00 + byte (always U+DC80-U+DCFF), which encodes back to that
// very byte. File names are bytes on POSIX, so every one survives the trip.
constexpr char16_t kByteEscapeBase = 0xDC00;

inline bool IsByteEscape(char16_t unit) {
  return unit >= 0xDC80 && unit <= 0xDCFF;
}
inline char16_t ByteEscape(unsigned char byte) {
  return static_cast<char16_t>(kByteEscapeBase + byte);
}
inline unsigned char EscapedByte(char16_t unit) {
  return static_cast<unsigned char>(unit - kByteEscapeBase);
}

inline bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}
inline bool IsLoneSurrogate(std::uint32_t code_point) {
  return code_point >= 0xD800 && code_point <= 0xDFFF;
}

// Whether a surrogate pair starts at text[i].
inline bool StartsPair(std::u16string_view text, std::size_t i) {
  return IsHighSurrogate(text[i]) && i + 1 < text.size() &&
         IsLowSurrogate(text[i + 1]);
}

// Walks UTF-16 text by code point, telling how many units each took; a lone
// surrogate comes as itself.
template <typename Visit>
void ForEachCodePoint(std::u16string_view text, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (StartsPair(text, i)) {
      visit(0x10000 + ((unit - 0xD800u) << 10) + (text[i + 1] - 0xDC00u), 2);
      ++i;
    } else {
      visit(unit, 1);
    }
  }
}

// ASCII letters in lower case, every other unit as it is: names match
// without regard to letter case the way Windows matches "*.md5".
inline char16_t FoldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
}

// Whether `text` ends with `suffix`, ASCII letters without regard to case.
inline bool EndsWithFoldingAscii(std::u16string_view text,
                                 std::u16string_view suffix) {
  if (text.size() < suffix.size()) return false;
  text.remove_prefix(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (FoldAscii(text[i]) != FoldAscii(suffix[i])) return false;
  }
  return true;
}

void AppendCodePoint(std::u16string* out, std::uint32_t code_point);
void AppendUtf8(std::string* out, std::uint32_t code_point);

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF); the
// bytes of anything else become byte escapes one by one.
void DecodeUtf8(const unsigned char* bytes, std::size_t length,
                std::u16string* out);

// UTF-8, for text that a locale's charset cannot show; a lone surrogate
// becomes U+FFFD, since UTF-8 has none. EncodeUtf8Onto appends it to `out`,
// and Utf8Size tells its size in bytes beforehand.
std::string EncodeUtf8(std::u16string_view text);
void EncodeUtf8Onto(std::u16string_view text, std::string* out);
std::size_t Utf8Size(std::u16string_view text);

// WTF-8: UTF-8 where a lone surrogate keeps its own three bytes, so that a
// UTF-16 name NTFS allows travels exactly; DecodeWtf8 takes strict UTF-8
// and such surrogates, and fails on anything else.
std::string EncodeWtf8(std::u16string_view text);
bool DecodeWtf8(const char* bytes, std::size_t length, std::u16string* out);

}  // namespace common
