#include "common/visible_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/unicode.h"

namespace {

constexpr auto kNone = std::u16string_view::npos;
constexpr auto kLinux = common::EscapeForm::kBackslash;
constexpr auto kWindows = common::EscapeForm::kAngle;

// A report with nothing to escape reaches a Windows box uncopied; where
// something must be escaped, VisibleText is told where it starts.
TEST(VisibleTextTest, FirstShownOtherwiseFindsTheFirstEscape) {
  const std::u16string report =
      u"m0000001.dat - ファイルが見つからないか、読み込みに失敗しました。\r\n"
      u"写真　一覧.jpg - OK\r\n\r\n検証に失敗しました。";
  EXPECT_EQ(
      common::FirstShownOtherwise(report, common::LineEnds::kCrLf, kWindows),
      kNone);
  EXPECT_EQ(common::VisibleText(report, common::LineEnds::kCrLf, kWindows),
            report);
  EXPECT_EQ(
      common::FirstShownOtherwise(report, common::LineEnds::kNewline, kLinux),
      40u);
  EXPECT_EQ(common::FirstShownOtherwise(u"名前\u3164 - OK",
                                        common::LineEnds::kCrLf, kWindows),
            2u);
  EXPECT_EQ(common::FirstShownOtherwise(u"a\u3000 - OK",
                                        common::LineEnds::kCrLf, kWindows),
            1u);
  EXPECT_EQ(
      common::FirstShownOtherwise(u"ab\\x41", common::LineEnds::kCrLf, kLinux),
      2u);
  EXPECT_EQ(common::FirstShownOtherwise(u"ab<U+41>", common::LineEnds::kCrLf,
                                        kWindows),
            2u);
  EXPECT_EQ(common::FirstShownOtherwise(u"ab\xDC80", common::LineEnds::kCrLf,
                                        kWindows),
            2u);
  EXPECT_EQ(common::FirstShownOtherwise(u"a\U0001F600\r\n",
                                        common::LineEnds::kEscaped, kWindows),
            3u);
}

// Names that hold nothing to escape are shown exactly as they are, however
// much of them looks like an escape; a control, a bidirectional control, and
// the name that spells its escape are shown apart.
TEST(VisibleTextTest, OnlyWhatMustBeEscapedIsAltered) {
  for (const common::EscapeForm form : {kLinux, kWindows}) {
    for (const std::u16string name :
         {u"C\\UEFI.txt", u"\\u20 \\U0001f60 \\x8 <U+> <U+1234567>"}) {
      EXPECT_EQ(common::FirstShownOtherwise(name + u" - OK",
                                            common::LineEnds::kCrLf, form),
                kNone);
    }
  }
  // On Linux \x86 is how a name's byte 0x86 shows.
  const std::u16string folders = u"drivers\\x64\\a.sys - OK\r\nx\\x86.txt - OK";
  EXPECT_EQ(common::VisibleText(folders, common::LineEnds::kCrLf, kWindows),
            folders);
  EXPECT_EQ(common::VisibleText(folders, common::LineEnds::kCrLf, kLinux),
            u"drivers\\\\x64\\a.sys - OK\r\nx\\\\x86.txt - OK");
  const std::u16string names =
      u"a\x1B - OK\r\n\u202Eexe.txt - OK\r\n"
      u"a\\x1b\\\x1B - OK\r\n\\u202eexe.txt - OK\r\n<U+202E>exe.txt - OK";
  EXPECT_EQ(common::VisibleText(names, common::LineEnds::kCrLf, kLinux),
            u"a\\x1b - OK\r\n\\u202eexe.txt - OK\r\n"
            u"a\\\\x1b\\\\\\x1b - OK\r\n\\\\u202eexe.txt - OK\r\n"
            u"<U+202E>exe.txt - OK");
  EXPECT_EQ(common::VisibleText(names, common::LineEnds::kCrLf, kWindows),
            u"a<U+001B> - OK\r\n<U+202E>exe.txt - OK\r\n"
            u"a\\x1b\\<U+001B> - OK\r\n\\u202eexe.txt - OK\r\n"
            u"<U+003C>U+202E>exe.txt - OK");
  EXPECT_EQ(common::VisibleText(u"\xD800\U000E0100\r\n",
                                common::LineEnds::kEscaped, kWindows),
            u"<U+D800><U+E0100><U+000D><U+000A>");
}

// No two names show alike: every short name of the characters that make
// escapes has a rendering of its own, in either form.
TEST(VisibleTextTest, NoTwoNamesShowAlike) {
  const std::u16string_view alphabet = u"\\x1bU+<>\x1B\xDC80";
  for (const common::EscapeForm form : {kLinux, kWindows}) {
    std::set<std::u16string> shown;
    std::size_t names = 0;
    for (std::size_t size = 0, count = 1; size <= 5;
         ++size, count *= alphabet.size()) {
      for (std::size_t n = 0; n < count; ++n, ++names) {
        std::u16string name;
        for (std::size_t k = 0, rest = n; k < size; ++k) {
          name += alphabet[rest % alphabet.size()];
          rest /= alphabet.size();
        }
        shown.insert(
            common::VisibleText(name, common::LineEnds::kEscaped, form));
      }
    }
    EXPECT_EQ(shown.size(), names);
  }
}

// The GTK box's UTF-8 is made in one string sized beforehand.
TEST(VisibleTextTest, Utf8SizeIsTheEncodedSize) {
  for (const std::u16string text :
       {u"", u"a - OK\r\n", u"é名\U0001F600", u"\xD800x\xDC80\xDBFF",
        u"\xDBFF\xDFFF\xD800"}) {
    EXPECT_EQ(common::Utf8Size(text), common::EncodeUtf8(text).size());
  }
}

}  // namespace
