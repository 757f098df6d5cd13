#include "desktop/posix/terminal_desktop.h"

#include <gtest/gtest.h>

#include "common/visible_text.h"

namespace {

using desktop::posix::FormatTerminalBox;
using desktop::posix::IsYesAnswer;

TEST(TerminalDesktopTest, BoxShowsIconCaptionAndText) {
  EXPECT_EQ(FormatTerminalBox(common::WideString(u"一行目\r\n二行目"),
                              common::WideString(u"題"),
                              desktop::MB_YESNO | desktop::MB_ICONQUESTION),
            u"[確認] 題\n一行目\n二行目\n");
  EXPECT_EQ(FormatTerminalBox(common::WideString(u"x"), common::WideString(),
                              desktop::MB_ICONERROR),
            u"[エラー] digestbox\nx\n");
  EXPECT_EQ(
      FormatTerminalBox(common::WideString(u"x"), common::WideString(u"c"),
                        desktop::MB_ICONINFORMATION),
      u"[情報] c\nx\n");
}

// A long report goes to the terminal a piece at a time: the same box.
TEST(TerminalDesktopTest, ALongReportShowsAsAWholeOne) {
  std::u16string text;
  for (int i = 0; text.size() < 300000; ++i) {
    text += (i % 7 == 0 ? u"\u3000edge\\x41\x1B\u3000 - OK" : u"name - OK");
    text += i % 5 == 0 ? u"\r\r\n" : u"\r\n";
  }
  text += u"\r\n検証に成功しました。";
  EXPECT_EQ(
      FormatTerminalBox(common::WideString(text), common::WideString(u"c"),
                        desktop::MB_ICONINFORMATION),
      u"[情報] c\n" +
          common::VisibleText(text, common::LineEnds::kNewline,
                              common::EscapeForm::kBackslash) +
          u"\n");
}

TEST(TerminalDesktopTest, NothingInANameActsOnTheTerminal) {
  // A record name that would move up a line and erase the mismatch above it,
  // and a digest file's name as the caption of its box.
  const std::u16string text =
      u"a - 不一致\r\nup\x1B[1A\x1B[2Kerase\t\r\x7F\x85\u202E\u2066\xDCFF\n"
      u"\U0001F600ok\u2028fake - OK\u00AD\u200B\u2060\uFEFF\uFFF9\U000E0041";
  EXPECT_EQ(FormatTerminalBox(common::WideString(text),
                              common::WideString(u"t\x1B]0;x\x07\r\n"),
                              desktop::MB_ICONERROR),
            u"[エラー] t\\x1b]0;x\\x07\\x0d\\x0a\n"
            u"a - 不一致\nup\\x1b[1A\\x1b[2Kerase\t\\x0d\\x7f\\u0085\\u202e"
            u"\\u2066\\xff\\x0a\U0001F600ok\\u2028fake - OK\\u00ad\\u200b"
            u"\\u2060\\ufeff\\ufff9\\U000e0041\n");
}

// Every invisible character the Unicode Character Database names, spaces at
// a name's edges, and backslashes that would read as escapes: each rendering
// reads back to one name. Windows keeps its CR LF and shows lone surrogates.
TEST(TerminalDesktopTest, InvisibleNamesAndLookAlikeEscapesAreShown) {
  const std::u16string text =
      u"setup.exe\u034F - OK\r\n\u3000lead\u3000mid\u3000 - OK\r\n"
      u"a\uFE0F\U000E0100\u3164\U0001D173\u2800\uFFFE\u00A0\r\n"
      u"\\x41\\u200b\\share\\U - OK";
  EXPECT_EQ(common::VisibleText(text, common::LineEnds::kNewline,
                                common::EscapeForm::kBackslash),
            u"setup.exe\\u034f - OK\n\\u3000lead\u3000mid\\u3000 - OK\n"
            u"a\\ufe0f\\U000e0100\\u3164\\U0001d173\\u2800\\ufffe\\u00a0\n"
            u"\\\\x41\\\\u200b\\share\\U - OK");
  EXPECT_EQ(common::VisibleText(u"\xDC80\u202E\r\n", common::LineEnds::kCrLf,
                                common::EscapeForm::kAngle),
            u"<U+DC80><U+202E>\r\n");
}

// The progress line never wraps (a wrapped line could not be redrawn in
// place), a name's controls are shown, not obeyed, and a narrow terminal
// loses the name's middle, then the title, speed and sizes, before the
// counts.
TEST(TerminalDesktopTest, ProgressLineFitsTheTerminal) {
  desktop::ProgressView view;
  view.done = 3;
  view.all = 10;
  view.percent = 42;
  view.bytes_known = true;
  view.bytes_done = 1500000;
  view.bytes_all = 20000000;
  view.speed_known = true;
  view.speed = 1500000;
  view.left_known = true;
  view.seconds_left = 200;
  view.name = common::WideString(u"a\x1b[2Kb-0123456789.txt");
  const common::WideString title(u"ハッシュの検証");
  const auto line = [&](int columns) {
    return desktop::posix::FormatProgressLine(title, view, columns);
  };
  EXPECT_EQ(line(200),
            u"ハッシュの検証  3 / 10 ファイル  42%  1.50 MB / 20.0 MB  "
            u"1.50 MB/秒  残り約4分  a\\x1b[2Kb-0123456789.txt");
  // 80 columns: the title makes room for the name, which keeps its ends.
  EXPECT_EQ(line(80),
            u"3 / 10 ファイル  42%  1.50 MB / 20.0 MB  1.50 MB/秒  残り約4分  "
            u"a\\x1b...9.txt");
  EXPECT_EQ(line(40), u"3 / 10 ファイル  42%  残り約4分");
  EXPECT_EQ(line(30), u"3 / 10 ファイル  42%");
  EXPECT_EQ(line(22), u"3 / 10 ファイル  42");
  EXPECT_EQ(line(14), u"3 / 10 ファ");
  // A tab takes a known width: it is shown as the other controls are.
  view.name = common::WideString(u"a\tb");
  EXPECT_EQ(line(200).substr(line(200).size() - 6), u"a\\x09b");
  view.unit = progress::Unit::kRecords;
  view.name = common::WideString();
  EXPECT_EQ(line(200),
            u"ハッシュの検証  3 / 10 件  42%  1.50 MB / 20.0 MB  1.50 MB/秒  "
            u"残り約4分");
}

TEST(TerminalDesktopTest, OnlyYesWordsMeanYes) {
  for (const char* yes :
       {"y", "Y", "yes", "YeS", " yes ", "\xE3\x81\xAF\xE3\x81\x84"}) {
    EXPECT_TRUE(IsYesAnswer(yes)) << yes;
  }
  for (const char* no : {"", "n", "no", "yess", "ye", "1", "ok", "y y"}) {
    EXPECT_FALSE(IsYesAnswer(no)) << no;
  }
}

}  // namespace
