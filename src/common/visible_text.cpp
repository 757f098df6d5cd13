#include "common/visible_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "common/unicode.h"

namespace {

struct CodePointRange {
  std::uint32_t first;
  std::uint32_t last;
};

#include "common/escape_table.inc"

template <std::size_t N>
bool InRanges(const CodePointRange (&ranges)[N], std::uint32_t code_point) {
  const auto* end = std::end(ranges);
  const auto* at = std::upper_bound(
      std::begin(ranges), end, code_point,
      [](std::uint32_t c, const CodePointRange& r) { return c < r.first; });
  return at != std::begin(ranges) && code_point <= (at - 1)->last;
}

bool IsOtherSpace(std::uint32_t code_point) {
  return code_point >= 0xA0 && InRanges(kOtherSpaceRanges, code_point);
}

bool IsSpace(char16_t unit) { return unit == u' ' || IsOtherSpace(unit); }

bool IsHexDigit(char16_t unit) {
  return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f') ||
         (unit >= u'A' && unit <= u'F');
}

// Spaces within a name stay (U+3000 is common in Japanese names); at its
// edges they would pass for nothing. A name's edges in a box: the start or
// end of a line, or the " - " that follows a name in the report.
bool AtNameEdge(std::u16string_view text, std::size_t i) {
  std::size_t before = i;
  while (before > 0 && IsSpace(text[before - 1])) --before;
  if (before == 0 || text[before - 1] == u'\n' || text[before - 1] == u'\r') {
    return true;
  }
  std::size_t after = i + 1;
  while (after < text.size() && IsSpace(text[after])) ++after;
  if (after == text.size() || text[after] == u'\r' || text[after] == u'\n') {
    return true;
  }
  return text[after] == u'-' && text[after - 1] == u' ' &&
         after + 1 < text.size() && text[after + 1] == u' ';
}

// A backslash that a reader would take for the start of an escape.
bool StartsEscape(std::u16string_view text, std::size_t i) {
  return text[i] == u'\\' && i + 2 < text.size() &&
         (text[i + 1] == u'x' || text[i + 1] == u'u' || text[i + 1] == u'U') &&
         IsHexDigit(text[i + 2]);
}

void AppendEscape(std::u16string* out, const char16_t* prefix,
                  std::uint32_t value, int digits) {
  static const char16_t kHex[] = u"0123456789abcdef";
  out->append(prefix);
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    out->push_back(kHex[(value >> shift) & 0xF]);
  }
}

void AppendVisible(std::u16string* out, std::uint32_t code_point) {
  if (code_point < 0x20 || code_point == 0x7F) {
    AppendEscape(out, u"\\x", code_point, 2);
  } else if (code_point > 0xFFFF) {
    AppendEscape(out, u"\\U", code_point, 8);
  } else {
    AppendEscape(out, u"\\u", code_point, 4);
  }
}

// Shown as itself wherever it stands: printable ASCII but the backslash, and
// the kana and ideographs of Japanese texts (the table escapes none of
// U+3001-U+9FFF but U+3164, the Hangul filler). Most of a report.
bool IsPlain(char16_t unit) {
  return (unit > u' ' && unit < 0x7F && unit != u'\\') ||
         (unit > 0x3000 && unit < 0xA000 && unit != 0x3164);
}

// Appends how the text at `i` is shown; returns how many units it took.
std::size_t AppendShown(std::u16string* out, std::u16string_view text,
                        std::size_t i, LineEnds line_ends, bool byte_escapes) {
  const char16_t unit = text[i];
  if (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
    out->append(line_ends == LineEnds::kNewline ? u"\n"
                : line_ends == LineEnds::kCrLf  ? u"\r\n"
                                                : u"\\x0d\\x0a");
    return 2;
  }
  const bool pair = StartsPair(text, i);
  const std::uint32_t code_point =
      pair ? 0x10000 + ((unit - 0xD800u) << 10) + (text[i + 1] - 0xDC00u)
           : unit;
  if (byte_escapes && IsByteEscape(unit)) {
    AppendEscape(out, u"\\x", EscapedByte(unit), 2);  // undecodable byte
  } else if (!pair && (IsHighSurrogate(unit) || IsLowSurrogate(unit))) {
    AppendVisible(out, unit);  // a lone surrogate
  } else if (InRanges(kEscapedRanges, code_point) ||
             (IsOtherSpace(code_point) && AtNameEdge(text, i))) {
    AppendVisible(out, code_point);
  } else if (StartsEscape(text, i)) {
    out->append(u"\\\\");
  } else {
    out->append(text.substr(i, pair ? 2 : 1));
  }
  return pair ? 2 : 1;
}

}  // namespace

std::size_t FirstShownOtherwise(std::u16string_view text, LineEnds line_ends,
                                bool byte_escapes) {
  std::u16string shown;
  for (std::size_t i = 0; i < text.size();) {
    if (IsPlain(text[i])) {
      ++i;
      continue;
    }
    shown.clear();
    const std::size_t read =
        AppendShown(&shown, text, i, line_ends, byte_escapes);
    if (text.substr(i, read) != shown) return i;
    i += read;
  }
  return std::u16string_view::npos;
}

std::u16string VisibleText(std::u16string_view text, LineEnds line_ends,
                           bool byte_escapes) {
  std::size_t i = FirstShownOtherwise(text, line_ends, byte_escapes);
  if (i == std::u16string_view::npos) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size());
  out.assign(text.substr(0, i));
  while (i < text.size()) {
    if (IsPlain(text[i])) {
      out.push_back(text[i++]);
    } else {
      i += AppendShown(&out, text, i, line_ends, byte_escapes);
    }
  }
  return out;
}
