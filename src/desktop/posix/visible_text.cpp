#include "desktop/posix/visible_text.h"

#include <cstdint>

#include "common/unicode.h"

namespace platform {
namespace posix {
namespace {

bool IsBidiControl(char16_t unit) {
  return unit == 0x061C || unit == 0x200E || unit == 0x200F ||
         (unit >= 0x202A && unit <= 0x202E) ||
         (unit >= 0x2066 && unit <= 0x2069);
}

// Characters that break a line where no line end is, or show nothing at all:
// either lets a name pass for another or forge a line of the report.
bool IsInvisible(char16_t unit) {
  return unit == 0x00AD || unit == 0x180E ||
         (unit >= 0x200B && unit <= 0x200D) || unit == 0x2028 ||
         unit == 0x2029 || (unit >= 0x2060 && unit <= 0x2064) ||
         unit == 0xFEFF || (unit >= 0xFFF9 && unit <= 0xFFFB);
}

// The tag characters U+E0000-U+E007F, which render as nothing.
bool IsTag(char16_t high, char16_t low) {
  return high == 0xDB40 && low >= 0xDC00 && low <= 0xDC7F;
}

void AppendEscape(std::u16string* out, const char16_t* prefix, unsigned value,
                  int digits) {
  static const char16_t kHex[] = u"0123456789abcdef";
  out->append(prefix);
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    out->push_back(kHex[(value >> shift) & 0xF]);
  }
}

}  // namespace

std::u16string VisibleText(std::u16string_view text, bool line_ends) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool paired =
        StartsPair(text, i) ||
        (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n');
    if (paired) {
      if (unit == u'\r') {
        out.append(line_ends ? u"\n" : u"\\x0d\\x0a");
      } else if (IsTag(unit, text[i + 1])) {
        AppendEscape(&out, u"\\U", 0xE0000u + (text[i + 1] - 0xDC00u), 8);
      } else {
        out.append(text.substr(i, 2));
      }
      ++i;
    } else if ((unit < 0x20 && unit != u'\t') || unit == 0x7F) {
      AppendEscape(&out, u"\\x", unit, 2);
    } else if (IsByteEscape(unit)) {
      AppendEscape(&out, u"\\x", EscapedByte(unit), 2);  // an undecodable byte
    } else if ((unit >= 0x80 && unit <= 0x9F) || IsBidiControl(unit) ||
               IsInvisible(unit) || IsHighSurrogate(unit) ||
               IsLowSurrogate(unit)) {
      AppendEscape(&out, u"\\u", unit, 4);
    } else {
      out.push_back(unit);
    }
  }
  return out;
}

std::u16string VisibleCaption(const WideString& caption) {
  return caption.IsAbsent() ? std::u16string(u"digestbox")
                            : VisibleText(caption.View(), false);
}

}  // namespace posix
}  // namespace platform
