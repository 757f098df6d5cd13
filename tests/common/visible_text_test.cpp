#include "common/visible_text.h"

#include <gtest/gtest.h>

#include <string>

#include "common/unicode.h"

namespace {

constexpr auto kNone = std::u16string_view::npos;

// A report with nothing to escape reaches a Windows box uncopied; where
// something must be escaped, VisibleText is told where it starts.
TEST(VisibleTextTest, FirstShownOtherwiseFindsTheFirstEscape) {
  const std::u16string report =
      u"m0000001.dat - ファイルが見つからないか、読み込みに失敗しました。\r\n"
      u"写真　一覧.jpg - OK\r\n\r\n検証に失敗しました。";
  EXPECT_EQ(FirstShownOtherwise(report, LineEnds::kCrLf, false), kNone);
  EXPECT_EQ(VisibleText(report, LineEnds::kCrLf, false), report);
  EXPECT_EQ(FirstShownOtherwise(report, LineEnds::kNewline, true), 40u);
  EXPECT_EQ(FirstShownOtherwise(u"名前\u3164 - OK", LineEnds::kCrLf, false),
            2u);
  EXPECT_EQ(FirstShownOtherwise(u"a\u3000 - OK", LineEnds::kCrLf, false), 1u);
  EXPECT_EQ(FirstShownOtherwise(u"ab\\x41", LineEnds::kCrLf, false), 2u);
  EXPECT_EQ(FirstShownOtherwise(u"ab\\share", LineEnds::kCrLf, false), kNone);
  EXPECT_EQ(FirstShownOtherwise(u"ab\xDC80", LineEnds::kCrLf, false), 2u);
  EXPECT_EQ(FirstShownOtherwise(u"a\U0001F600\r\n", LineEnds::kEscaped, false),
            3u);
}

// The GTK box's UTF-8 is made in one string sized beforehand.
TEST(VisibleTextTest, Utf8SizeIsTheEncodedSize) {
  for (const std::u16string text :
       {u"", u"a - OK\r\n", u"é名\U0001F600", u"\xD800x\xDC80\xDBFF",
        u"\xDBFF\xDFFF\xD800"}) {
    EXPECT_EQ(Utf8Size(text), EncodeUtf8(text).size());
  }
}

}  // namespace
