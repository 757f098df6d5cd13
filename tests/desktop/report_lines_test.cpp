#include "desktop/report_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "support/texts.h"

namespace {

std::u16string Note(std::size_t lines) {
  return kTruncatedBeforeText +
         std::u16string(1, static_cast<char16_t>(u'0' + lines)) +
         kTruncatedAfterText;
}

// A report its box cannot take whole keeps whole lines only, and its last
// line counts those left out, the empty line and the verdict among them.
TEST(ReportLinesTest, ACutReportSaysHowManyLinesItLeftOut) {
  const std::u16string first = u"a.txt - OK\r\n";
  const std::u16string records =
      first + u"b.txt - " + kMismatchText + u"\r\n\r\n";
  const std::u16string report = records + kFailedCaptionText;
  const std::u16string_view end(u"\r\n");
  EXPECT_EQ(desktop::CutReport<char16_t>(report, end, 0, Note), Note(4));
  const std::size_t one = first.size() + Note(3).size();
  EXPECT_EQ(desktop::CutReport<char16_t>(report, end, one, Note),
            first + Note(3));
  EXPECT_EQ(desktop::CutReport<char16_t>(report, end, one + 5, Note),
            first + Note(3));
  EXPECT_EQ(desktop::CutReport<char16_t>(report, end,
                                         records.size() + Note(1).size(), Note),
            records + Note(1));
}

}  // namespace
