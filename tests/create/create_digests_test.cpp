#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_test.h"
#include "support/texts.h"

namespace {

class CreateDigestsTest : public RunTest {
 protected:
  bool ShowedCompletion() const {
    for (const RecordedBox& box : desktop_.boxes) {
      if (box.text == kDoneText && box.caption == kDoneCaptionText &&
          box.style == MB_ICONINFORMATION) {
        return true;
      }
    }
    return false;
  }
};

TEST_F(CreateDigestsTest, OnlySubdirectories) {
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory("sub.md5");
  Create(CALG_MD5);
  EXPECT_TRUE(Snapshot().empty());
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_TRUE(ShowedCompletion());
}

TEST_F(CreateDigestsTest, OneRecordPerFileByteForByte) {
  WriteBytes("empty", "");
  WriteBytes("f4096", Pattern(4096));
  WriteBytes("no dot name", "abc");
  Create(CALG_MD5);
  EXPECT_EQ(ReadBytes("empty.md5"), std::string(kEmptyMd5) + " *empty\n");
  EXPECT_EQ(ReadBytes("f4096.md5"),
            "d105289f5617c241f52a191c6b2fc809 *f4096\n");
  EXPECT_EQ(ReadBytes("no dot name.md5"),
            "900150983cd24fb0d6963f7d28e17f72 *no dot name\n");
  EXPECT_EQ(Snapshot().size(), 6u);
  EXPECT_TRUE(ShowedCompletion());
}

TEST_F(CreateDigestsTest, Sha1WritesFortyDigits) {
  WriteBytes("f4097", Pattern(4097));
  Create(CALG_SHA1);
  EXPECT_EQ(ReadBytes("f4097.sha1"),
            "fdb2e012e62d840b9ea0bb5d7bcfd4e4378a41e9 *f4097\n");
}

TEST_F(CreateDigestsTest, ExistingDigestFilesAreOverwrittenAndHashedOnce) {
  WriteBytes("a.txt", "");
  WriteBytes("a.txt.md5", "old content");
  Create(CALG_MD5);
  EXPECT_EQ(ReadBytes("a.txt.md5"), std::string(kEmptyMd5) + " *a.txt\n");
  // a.txt.md5 was listed before the run wrote anything, so it is hashed once,
  // holding its old or its new content as the directory's order has it.
  const std::string md5_of_md5 = ReadBytes("a.txt.md5.md5");
  EXPECT_TRUE(md5_of_md5 == "0f5f13cf0b14c88bd431ef163b63d68d *a.txt.md5\n" ||
              md5_of_md5 == "5dd3a7d4b84d7370948d1fe905ecf35b *a.txt.md5\n")
      << md5_of_md5;
  EXPECT_FALSE(Exists("a.txt.md5.md5.md5"));
  EXPECT_EQ(Snapshot().size(), 3u);
}

TEST_F(CreateDigestsTest, AnOutputThatCannotBeCreatedStopsTheRun) {
  WriteBytes("a.txt", "x");
  std::filesystem::create_directory("a.txt.md5");
  Create(CALG_MD5);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].style, MB_ICONERROR);
  EXPECT_FALSE(desktop_.boxes[0].has_caption);
  EXPECT_FALSE(desktop_.boxes[0].text.empty());
  EXPECT_FALSE(ShowedCompletion());
}

}  // namespace
