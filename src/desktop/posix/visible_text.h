#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/visible_text.h"
#include "common/wide_string.h"

namespace desktop {
namespace posix {

// A box's text as the terminal and the GTK dialogs show it (line ends as
// line feeds, undecodable bytes of names as \xNN), given to show(piece) a
// piece at a time until it returns false: a report of a million lines is
// never copied whole. Each piece ends after a line end, where nothing
// VisibleText does looks across. Returns whether every piece was shown.
template <typename Show>
bool ForEachVisiblePiece(const common::WideString& text, Show show) {
  constexpr std::size_t kPieceUnits = 1 << 16;
  const std::u16string_view body = text.View();
  for (std::size_t at = 0; at < body.size();) {
    std::size_t end = body.size();
    if (body.size() - at > kPieceUnits) {
      const std::size_t line_end = body.find(u"\r\n", at + kPieceUnits);
      if (line_end != std::u16string_view::npos) end = line_end + 2;
    }
    if (!show(common::VisibleText(body.substr(at, end - at),
                                  common::LineEnds::kNewline,
                                  common::EscapeForm::kBackslash))) {
      return false;
    }
    at = end;
  }
  return true;
}

// A box's caption as shown, on one line; "digestbox" when it has none.
inline std::u16string VisibleCaption(const common::WideString& caption) {
  return caption.IsAbsent()
             ? std::u16string(u"digestbox")
             : common::VisibleText(caption.View(), common::LineEnds::kEscaped,
                                   common::EscapeForm::kBackslash);
}

}  // namespace posix
}  // namespace desktop
