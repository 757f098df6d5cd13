// The terminal's progress line: numbers put into words, cut to fit.
#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>

#include "common/unicode.h"
#include "desktop/posix/terminal_desktop.h"
#include "desktop/posix/visible_text.h"
#include "progress/progress_texts.h"

namespace desktop {
namespace posix {
namespace {

// Columns a character takes: the locale's answer, else two for the wide
// scripts.
int ColumnsOf(char32_t c) {
  const int width = ::wcwidth(static_cast<wchar_t>(c));
  if (width >= 0) return width;
  return c >= 0x2E80 ? 2 : 1;
}

int WidthOf(std::u16string_view text) {
  int width = 0;
  common::ForEachCodePoint(
      text, [&](std::uint32_t c, std::size_t) { width += ColumnsOf(c); });
  return width;
}

// The text's first `room` columns.
std::u16string Head(std::u16string_view text, int room) {
  std::size_t fits = 0;
  common::ForEachCodePoint(text, [&](std::uint32_t c, std::size_t units) {
    room -= ColumnsOf(c);
    if (room >= 0) fits += units;
  });
  return std::u16string(text.substr(0, fits));
}

// A name cut to `room` columns by losing its middle, which the ends tell
// apart least.
std::u16string CutMiddle(const std::u16string& name, int room) {
  const int width = WidthOf(name);
  if (width <= room) return name;
  const int tail_room = (room - 3) / 2;
  std::u16string head = Head(name, room - 3 - tail_room);
  // The tail: the last code points that fit in tail_room.
  std::size_t start = name.size();
  int used = 0;
  while (start > 0) {
    std::size_t begin = start - 1;
    if (begin > 0 && common::IsLowSurrogate(name[begin]) &&
        common::IsHighSurrogate(name[begin - 1])) {
      --begin;
    }
    int columns = 0;
    common::ForEachCodePoint(
        std::u16string_view(name).substr(begin, start - begin),
        [&](std::uint32_t c, std::size_t) { columns = ColumnsOf(c); });
    if (used + columns > tail_room) break;
    used += columns;
    start = begin;
  }
  return head + u"..." + name.substr(start);
}

}  // namespace

std::u16string FormatProgressLine(const common::WideString& title,
                                  const ProgressView& view, int columns) {
  enum Part { kTitle, kCounts, kSizes, kSpeed, kLeft, kName, kParts };
  std::u16string parts[kParts];
  parts[kTitle] = VisibleCaption(title);
  parts[kCounts] =
      progress::HeadingText(view.unit, view.done, view.all, view.percent);
  progress::Details details = progress::DetailsOf(view, progress::DecimalSize);
  parts[kSizes] = std::move(details.sizes);
  parts[kSpeed] = std::move(details.speed);
  parts[kLeft] = std::move(details.left);
  // A tab too, shown as the other controls are: its width depends on
  // where it falls.
  std::u16string name;
  for (const char16_t unit :
       common::VisibleText(view.name.View(), common::LineEnds::kEscaped,
                           common::EscapeForm::kBackslash)) {
    if (unit == u'\t') {
      name += u"\\x09";
    } else {
      name += unit;
    }
  }
  // Where the line is too narrow: the name loses its middle; the title,
  // the speed and the sizes go to leave it some room; then the name goes,
  // then the time left; the counts and percentage are cut last.
  // Room for the "^C" a terminal echoes after the line: the erase that
  // follows leaves nothing behind.
  const int room = columns - 3;
  const auto width = [&] {
    int used = -2;
    for (const std::u16string& part : parts) {
      if (!part.empty()) used += WidthOf(part) + 2;
    }
    return used;
  };
  for (const Part part : {kTitle, kSpeed, kSizes}) {
    if (width() + 2 + std::min(WidthOf(name), 12) <= room) break;
    parts[part].clear();
  }
  const int name_room = room - width() - 2;
  if (!name.empty() && name_room >= 8) {
    parts[kName] = CutMiddle(name, name_room);
  }
  if (width() > room) parts[kLeft].clear();
  std::u16string line;
  for (const std::u16string& part : parts) {
    if (part.empty()) continue;
    if (!line.empty()) line += u"  ";
    line += part;
  }
  return Head(line, room);
}

}  // namespace posix
}  // namespace desktop
