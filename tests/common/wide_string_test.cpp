#include "common/wide_string.h"

#include <gtest/gtest.h>

TEST(WideStringTest, AbsentEmptyAndPresent) {
  common::WideString absent;
  EXPECT_TRUE(absent.IsAbsent());
  EXPECT_TRUE(absent.IsEmpty());
  EXPECT_EQ(absent.CStr()[0], u'\0');

  common::WideString empty(u"");
  EXPECT_FALSE(empty.IsAbsent());
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_NE(absent, empty);

  common::WideString text(u"名前");
  EXPECT_FALSE(text.IsEmpty());
  EXPECT_EQ(text.Length(), 2u);
}

TEST(WideStringTest, AppendingAbsentChangesNothingAndPresentMakesPresent) {
  common::WideString report;
  report.Append(common::WideString());
  EXPECT_TRUE(report.IsAbsent());

  report.Append(common::WideString(u""));
  EXPECT_FALSE(report.IsAbsent());
  EXPECT_TRUE(report.IsEmpty());

  report.Append(u"a.txt");
  report.Append(common::WideString());
  report.Append(u" - OK");
  EXPECT_EQ(report.View(), u"a.txt - OK");
}
