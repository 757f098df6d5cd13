#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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
