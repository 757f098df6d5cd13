#pragma once

#include <cstdint>

#include "common/wide_string.h"

namespace desktop {
namespace win32 {

// Whether MessageBoxW can show `text` whole on the primary monitor: the text
// measured as the box lays it out (the message font, word breaks, the box's
// width), with room for the caption, the icon and the button.
bool FitsMessageBox(const common::WideString& text);

// An OK box of the program's own for a report too long for MessageBoxW:
// modal and owner-less, the same caption, icon and sound, the whole text in
// a read-only edit control that scrolls and can be copied, resizable within
// the work area, opened at the first failing line. Returns IDOK.
int ShowReportBox(const common::WideString& text,
                  const common::WideString& caption, std::uint32_t style);

}  // namespace win32
}  // namespace desktop
