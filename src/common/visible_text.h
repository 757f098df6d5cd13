#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text as a box shows it, on every platform: names come from digest files
// and directories that anyone can write, and a control in one could rewrite
// a terminal's report, an invisible character let a name pass for another.
// Escaped, from a table generated from the Unicode Character Database:
// controls but the tab, format characters, default ignorables, line and
// paragraph separators, noncharacters, U+2800, and a space other than U+0020
// at a name's edge (a line's start or end, or before " - "). C0 controls,
// DEL and undecodable bytes read \xNN; the rest \u034f or \U000e0100. A
// backslash that would read as an escape is doubled, so every rendering
// reads back to one name.
enum class LineEnds {
  kNewline,  // a CR LF pair shown as one line feed (terminals, GTK)
  kCrLf,     // kept as CR LF (Windows boxes)
  kEscaped,  // shown as \x0d\x0a (captions: one line)
};

// `byte_escapes`: the text carries undecodable bytes as U+DC80-U+DCFF (POSIX
// names); elsewhere a lone surrogate is shown as itself, \udXXX.
std::u16string VisibleText(std::u16string_view text, LineEnds line_ends,
                           bool byte_escapes);

// Where VisibleText first shows the text otherwise than as it is; npos where
// it shows all of it as it is, as it does most reports, which then need no
// copy.
std::size_t FirstShownOtherwise(std::u16string_view text, LineEnds line_ends,
                                bool byte_escapes);
