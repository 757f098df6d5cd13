#include "app/app_main.h"

#include <gtest/gtest.h>

#include "support/scripted_desktop.h"
#include "support/temp_dir.h"
#include "support/texts.h"

namespace {

class AppMainTest : public ::testing::Test {
 protected:
  TempDirectory dir_;
  ScriptedDesktop desktop_;
};

TEST_F(AppMainTest, WithoutShiftItVerifiesWithoutAsking) {
  for (bool ctrl : {false, true}) {
    ScriptedDesktop desktop;
    if (ctrl) desktop.Hold(desktop::VK_CONTROL);
    EXPECT_EQ(app::AppMain(desktop), 0);
    EXPECT_EQ(desktop.key_queries,
              (std::vector<int>{desktop::VK_SHIFT, desktop::VK_CONTROL}));
    ASSERT_EQ(desktop.boxes.size(), 1u) << "ctrl " << ctrl;
    EXPECT_EQ(desktop.boxes[0].text, kNothingToVerifyText);
    EXPECT_FALSE(desktop.boxes[0].has_caption);
    EXPECT_EQ(desktop.boxes[0].style, desktop::MB_ICONERROR);
  }
}

TEST_F(AppMainTest, ShiftAsksTheMd5QuestionAndNoChangesNothing) {
  WriteBytes("a.txt", "data");
  const auto before = Snapshot();
  desktop_.Hold(desktop::VK_SHIFT);
  desktop_.Answer(desktop::IDNO);
  EXPECT_EQ(app::AppMain(desktop_), 0);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text, kMd5QuestionText);
  EXPECT_TRUE(desktop_.boxes[0].has_caption);
  EXPECT_EQ(desktop_.boxes[0].caption, kQuestionCaptionText);
  EXPECT_EQ(desktop_.boxes[0].style,
            desktop::MB_YESNO | desktop::MB_ICONQUESTION);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(AppMainTest, OnlyYesStartsCreation) {
  WriteBytes("a.txt", "");
  desktop_.Hold(desktop::VK_SHIFT);
  desktop_.Answer(desktop::IDOK);  // any answer but Yes
  EXPECT_EQ(app::AppMain(desktop_), 0);
  EXPECT_FALSE(Exists("a.txt.md5"));

  ScriptedDesktop desktop;
  desktop.Hold(desktop::VK_SHIFT);
  desktop.Answer(desktop::IDYES);
  EXPECT_EQ(app::AppMain(desktop), 0);
  EXPECT_EQ(ReadBytes("a.txt.md5"), std::string(kEmptyMd5) + " *a.txt\n");
  ASSERT_EQ(desktop.boxes.size(), 2u);
  EXPECT_EQ(desktop.boxes[1].text, kDoneText);
}

TEST_F(AppMainTest, ShiftAndCtrlCreateSha1) {
  WriteBytes("a.txt", "");
  desktop_.Hold(desktop::VK_SHIFT);
  desktop_.Hold(desktop::VK_CONTROL);
  desktop_.Answer(desktop::IDYES);
  EXPECT_EQ(app::AppMain(desktop_), 0);
  ASSERT_GE(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text, kSha1QuestionText);
  EXPECT_EQ(desktop_.boxes[0].caption, kQuestionCaptionText);
  EXPECT_EQ(ReadBytes("a.txt.sha1"), std::string(kEmptySha1) + " *a.txt\n");
  EXPECT_FALSE(Exists("a.txt.md5"));
}

}  // namespace
