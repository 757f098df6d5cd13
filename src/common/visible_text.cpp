#include "common/visible_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "common/unicode.h"

namespace common {

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

bool HexDigitsAt(std::u16string_view text, std::size_t at, std::size_t count) {
  if (text.size() - at < count) return false;
  for (std::size_t k = at; k < at + count; ++k) {
    if (!IsHexDigit(text[k])) return false;
  }
  return true;
}

// What follows a backslash in a complete escape: x and 2 hex digits, u and
// 4, U and 8.
bool StartsBackslashTail(std::u16string_view text, std::size_t at) {
  if (at >= text.size()) return false;
  const char16_t kind = text[at];
  return (kind == u'x' && HexDigitsAt(text, at + 1, 2)) ||
         (kind == u'u' && HexDigitsAt(text, at + 1, 4)) ||
         (kind == u'U' && HexDigitsAt(text, at + 1, 8));
}

// A "<" a reader would take for the start of an escape: "<U+", 1 to 6 hex
// digits and ">", either case.
bool StartsAngleEscape(std::u16string_view text, std::size_t at) {
  if (text.size() - at < 5 || (text[at + 1] != u'U' && text[at + 1] != u'u') ||
      text[at + 2] != u'+') {
    return false;
  }
  std::size_t end = at + 3;
  while (end < text.size() && end < at + 9 && IsHexDigit(text[end])) ++end;
  return end > at + 3 && end < text.size() && text[end] == u'>';
}

// What stands at a position of the text, and how much of it.
struct Piece {
  enum Kind { kItself, kLineEnd, kEscape, kByte } kind;
  std::uint32_t value;  // the code point or byte an escape shows
  std::size_t units;
};

// The one rule of what is escaped, whatever the form of the escape.
Piece Classify(std::u16string_view text, std::size_t i, EscapeForm form) {
  const char16_t unit = text[i];
  if (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
    return {Piece::kLineEnd, 0, 2};
  }
  if (form == EscapeForm::kBackslash && IsByteEscape(unit)) {
    return {Piece::kByte, EscapedByte(unit), 1};  // undecodable byte
  }
  const bool pair = StartsPair(text, i);
  const std::size_t units = pair ? 2 : 1;
  if (!pair && (IsHighSurrogate(unit) || IsLowSurrogate(unit))) {
    return {Piece::kEscape, unit, 1};  // a lone surrogate
  }
  const std::uint32_t code_point =
      pair ? 0x10000 + ((unit - 0xD800u) << 10) + (text[i + 1] - 0xDC00u)
           : unit;
  if (InRanges(kEscapedRanges, code_point) ||
      (IsOtherSpace(code_point) && AtNameEdge(text, i))) {
    return {Piece::kEscape, code_point, units};
  }
  return {Piece::kItself, 0, units};
}

bool ShownAsEscape(const Piece& piece, LineEnds line_ends) {
  return piece.kind == Piece::kEscape || piece.kind == Piece::kByte ||
         (piece.kind == Piece::kLineEnd && line_ends == LineEnds::kEscaped);
}

void AppendHex(std::u16string* out, std::uint32_t value, int digits,
               const char16_t* digit_table) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    out->push_back(digit_table[(value >> shift) & 0xF]);
  }
}

// The platform's way of writing one escape.
void AppendEscape(std::u16string* out, std::uint32_t value, bool byte,
                  EscapeForm form) {
  if (form == EscapeForm::kAngle) {
    int digits = 4;
    while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
    out->append(u"<U+");
    AppendHex(out, value, digits, u"0123456789ABCDEF");
    out->push_back(u'>');
    return;
  }
  static const char16_t kLower[] = u"0123456789abcdef";
  if (byte || value < 0x20 || value == 0x7F) {
    out->append(u"\\x");
    AppendHex(out, value, 2, kLower);
  } else if (value > 0xFFFF) {
    out->append(u"\\U");
    AppendHex(out, value, 8, kLower);
  } else {
    out->append(u"\\u");
    AppendHex(out, value, 4, kLower);
  }
}

// The character that starts an escape of the form: elsewhere, the rest of
// printable ASCII is shown as itself.
char16_t EscapeMark(EscapeForm form) {
  return form == EscapeForm::kAngle ? u'<' : u'\\';
}

// Shown as itself wherever it stands: printable ASCII but the escape mark,
// and the kana and ideographs of Japanese texts (the table escapes none of
// U+3001-U+9FFF but U+3164, the Hangul filler). Most of a report.
bool IsPlain(char16_t unit, char16_t mark) {
  return (unit > u' ' && unit < 0x7F && unit != mark) ||
         (unit > 0x3000 && unit < 0xA000 && unit != 0x3164);
}

// Appends how the text at `i` is shown; returns how many units it took (a
// run of backslashes at once, so a long one costs no more than its length).
std::size_t AppendShown(std::u16string* out, std::u16string_view text,
                        std::size_t i, LineEnds line_ends, EscapeForm form) {
  if (form == EscapeForm::kBackslash && text[i] == u'\\') {
    std::size_t end = i;
    while (end < text.size() && text[end] == u'\\') ++end;
    const bool doubled = StartsBackslashTail(text, end) ||
                         (end < text.size() &&
                          ShownAsEscape(Classify(text, end, form), line_ends));
    out->append((end - i) * (doubled ? 2 : 1), u'\\');
    return end - i;
  }
  if (form == EscapeForm::kAngle && text[i] == u'<') {
    if (StartsAngleEscape(text, i)) {
      AppendEscape(out, u'<', false, form);
    } else {
      out->push_back(u'<');
    }
    return 1;
  }
  const Piece piece = Classify(text, i, form);
  if (piece.kind == Piece::kItself) {
    out->append(text.substr(i, piece.units));
  } else if (piece.kind != Piece::kLineEnd) {
    AppendEscape(out, piece.value, piece.kind == Piece::kByte, form);
  } else if (line_ends == LineEnds::kEscaped) {
    AppendEscape(out, u'\r', false, form);
    AppendEscape(out, u'\n', false, form);
  } else {
    out->append(line_ends == LineEnds::kNewline ? u"\n" : u"\r\n");
  }
  return piece.units;
}

}  // namespace

std::size_t FirstShownOtherwise(std::u16string_view text, LineEnds line_ends,
                                EscapeForm form) {
  const char16_t mark = EscapeMark(form);
  std::u16string shown;
  for (std::size_t i = 0; i < text.size();) {
    if (IsPlain(text[i], mark)) {
      ++i;
      continue;
    }
    shown.clear();
    const std::size_t read = AppendShown(&shown, text, i, line_ends, form);
    if (text.substr(i, read) != shown) return i;
    i += read;
  }
  return std::u16string_view::npos;
}

std::u16string VisibleText(std::u16string_view text, LineEnds line_ends,
                           EscapeForm form) {
  std::size_t i = FirstShownOtherwise(text, line_ends, form);
  if (i == std::u16string_view::npos) return std::u16string(text);
  const char16_t mark = EscapeMark(form);
  std::u16string out;
  out.reserve(text.size());
  out.assign(text.substr(0, i));
  while (i < text.size()) {
    if (IsPlain(text[i], mark)) {
      out.push_back(text[i++]);
    } else {
      i += AppendShown(&out, text, i, line_ends, form);
    }
  }
  return out;
}

}  // namespace common
