#include "platform/posix/terminal_desktop.h"

#include <gtest/gtest.h>

namespace {

using platform::posix::FormatTerminalBox;
using platform::posix::IsYesAnswer;

TEST(TerminalDesktopTest, BoxShowsIconCaptionAndText) {
  EXPECT_EQ(FormatTerminalBox(WideString(u"一行目\r\n二行目"),
                              WideString(u"題"), MB_YESNO | MB_ICONQUESTION),
            u"[確認] 題\n一行目\n二行目\n");
  EXPECT_EQ(FormatTerminalBox(WideString(u"x"), WideString(), MB_ICONERROR),
            u"[エラー] digestbox\nx\n");
  EXPECT_EQ(
      FormatTerminalBox(WideString(u"x"), WideString(u"c"), MB_ICONINFORMATION),
      u"[情報] c\nx\n");
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
