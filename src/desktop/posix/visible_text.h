#pragma once

#include <string>

#include "common/visible_text.h"
#include "common/wide_string.h"

namespace platform {
namespace posix {

// A box's text as the terminal and the GTK dialogs show it: line ends as
// line feeds, undecodable bytes of names as \xNN.
inline std::u16string VisibleBody(const WideString& text) {
  return VisibleText(text.View(), LineEnds::kNewline, true);
}

// A box's caption as shown, on one line; "digestbox" when it has none.
inline std::u16string VisibleCaption(const WideString& caption) {
  return caption.IsAbsent()
             ? std::u16string(u"digestbox")
             : VisibleText(caption.View(), LineEnds::kEscaped, true);
}

}  // namespace posix
}  // namespace platform
