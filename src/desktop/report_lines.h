#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace desktop {

// The verification report is one "<name> - <result>" line per record, then
// an empty line and the verdict. Boxes that show a long report open it at
// the first record whose result is not "OK", and may mark every such line.
// Works on the text as any desktop holds it: UTF-16 with CR LF, or UTF-8
// with LF.
template <typename Char>
bool IsFailingRecord(std::basic_string_view<Char> line) {
  static constexpr Char kOk[] = {' ', '-', ' ', 'O', 'K'};
  const std::basic_string_view<Char> ok(kOk, 5);
  return line.size() < ok.size() || line.substr(line.size() - ok.size()) != ok;
}

// Calls visit(offset, line) for each record line, in order, until it returns
// false. The closing empty line and verdict are not records.
template <typename Char, typename Visit>
void ForEachRecordLine(std::basic_string_view<Char> report,
                       std::basic_string_view<Char> line_end, Visit visit) {
  std::basic_string<Char> closing(line_end);
  closing += line_end;
  const std::size_t records_end = report.rfind(closing);
  if (records_end == std::basic_string_view<Char>::npos || records_end == 0) {
    return;
  }
  std::size_t at = 0;
  while (at <= records_end) {
    std::size_t end = report.find(line_end, at);
    if (end == std::basic_string_view<Char>::npos || end > records_end) {
      end = records_end;
    }
    if (!visit(at, report.substr(at, end - at))) return;
    at = end + line_end.size();
  }
}

// The offset and length of the first failing record line; false when every
// record is OK.
template <typename Char>
bool FirstFailingRecord(std::basic_string_view<Char> report,
                        std::basic_string_view<Char> line_end,
                        std::size_t* offset, std::size_t* length) {
  bool found = false;
  ForEachRecordLine(report, line_end,
                    [&](std::size_t at, std::basic_string_view<Char> line) {
                      if (!IsFailingRecord(line)) return true;
                      *offset = at;
                      *length = line.size();
                      found = true;
                      return false;
                    });
  return found;
}

// The report cut after its last whole line that leaves `room` units for
// `note(n)`, the line that says n lines were left out, which ends it. For a
// desktop whose control cannot take the whole report.
template <typename Char, typename Note>
std::basic_string<Char> CutReport(std::basic_string_view<Char> report,
                                  std::basic_string_view<Char> line_end,
                                  std::size_t room, Note note) {
  std::size_t lines = 1;
  for (std::size_t at = report.find(line_end);
       at != std::basic_string_view<Char>::npos;
       at = report.find(line_end, at + line_end.size())) {
    ++lines;
  }
  std::size_t kept = 0, end = 0;
  for (;;) {
    const std::size_t next = report.find(line_end, end);
    if (next == std::basic_string_view<Char>::npos) break;
    const std::size_t after = next + line_end.size();
    if (after + note(lines - kept - 1).size() > room) break;
    end = after;
    ++kept;
  }
  std::basic_string<Char> cut(report.substr(0, end));
  cut += note(lines - kept);
  return cut;
}

}  // namespace desktop
