#pragma once

#include <string>
#include <string_view>

#include "common/wide_string.h"

namespace platform {
namespace posix {

// Text as a terminal or a dialog shows it, with nothing in it that the
// terminal would act on: names come from digest files and directories that
// anyone can write, and an escape sequence in one could erase or rewrite the
// report around it. CR LF pairs become line feeds where `line_ends` is set
// and a tab stays; every other C0 control, DEL, the C1 controls, the
// bidirectional controls, the line and paragraph separators, the invisible
// format characters (soft hyphen, zero widths, BOM, tags...) and the escapes
// of undecodable bytes are shown as \x1b, \u202e, \U000e0041 or the like.
std::u16string VisibleText(std::u16string_view text, bool line_ends);

// A box's caption as shown, on one line; "digestbox" when it has none.
std::u16string VisibleCaption(const WideString& caption);

}  // namespace posix
}  // namespace platform
