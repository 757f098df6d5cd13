#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

// Text as a box shows it, on every platform: names come from digest files
// and directories that anyone can write, and a control in one could rewrite
// a terminal's report, an invisible character let a name pass for another.
// Escaped, from a table generated from the Unicode Character Database:
// controls but the tab, format characters, default ignorables, line and
// paragraph separators, noncharacters, U+2800, and a space other than U+0020
// at a name's edge (a line's start or end, or before " - "). Nothing else is
// altered: a name holding none of these is shown exactly as it is.
enum class LineEnds {
  kNewline,  // a CR LF pair shown as one line feed (terminals, GTK)
  kCrLf,     // kept as CR LF (Windows boxes)
  kEscaped,  // shown as two escapes (captions: one line)
};

// How a platform writes an escape; the desktop of each platform names its
// own. Either way the text that would read as an escape is itself escaped,
// so every rendering reads back to one name.
enum class EscapeForm {
  // Linux: \x1b, \u202e, \U000e0100. Names are bytes: an undecodable one
  // arrives as U+DC80-U+DCFF and reads \xff. A run of backslashes is
  // doubled only where a complete escape follows it (\x and 2 hex digits,
  // \u and 4, \U and 8), or an escape written here.
  kBackslash,
  // Windows, where the backslash separates folders: <U+001B>, <U+202E>,
  // <U+E0100>, built from characters no Windows file name may hold. A lone
  // surrogate reads <U+D800>; a literal "<" followed by "U+", hex digits
  // and ">" reads <U+003C>.
  kAngle,
};

std::u16string VisibleText(std::u16string_view text, LineEnds line_ends,
                           EscapeForm form);

// Where VisibleText first shows the text otherwise than as it is; npos where
// it shows all of it as it is, as it does most reports, which then need no
// copy.
std::size_t FirstShownOtherwise(std::u16string_view text, LineEnds line_ends,
                                EscapeForm form);

}  // namespace common
