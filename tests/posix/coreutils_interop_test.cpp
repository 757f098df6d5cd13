// Digest files written by coreutils verify here, and ours pass md5sum -c.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/run_test.h"
#include "support/texts.h"

namespace {

class CoreutilsInteropTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    for (int i = 0; i < 50; ++i) {
      WriteBytes("file " + std::to_string(i) + " .dat", Pattern(i * 997));
    }
  }

  static bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
  }
};

TEST_F(CoreutilsInteropTest, TheirListsVerifyInBothModes) {
  ASSERT_TRUE(
      Run("md5sum *.dat > text.md5 && md5sum --binary *.dat > bin.md5"
          " && sha1sum *.dat > text.sha1 && sha1sum -b *.dat > bin.sha1"));
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].caption, kSucceededCaptionText);
  EXPECT_EQ(CountOf(desktop_.boxes[0].text, u" .dat - OK\r\n"), 200u);
}

TEST_F(CoreutilsInteropTest, EscapedNamesAreMalformedHere) {
  // md5sum escapes a name holding a backslash or a line feed and marks the
  // line with a leading backslash; that mark makes the digest token odd.
  WriteBytes("back\\slash", "");
  WriteBytes("line\nfeed", "");
  ASSERT_TRUE(
      Run("md5sum 'file 1 .dat' 'back\\slash' > a.md5 && "
          "md5sum \"$(printf 'line\\nfeed')\" > b.md5"));
  ASSERT_EQ(ReadBytes("a.md5").find("\\" + std::string(kEmptyMd5)),
            ReadBytes("a.md5").find('\n') + 1);
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(desktop_.boxes[i].text, kMalformedFileText);
  }
  EXPECT_EQ(desktop_.boxes[2].text,
            u"file 1 .dat - OK\r\n\r\n" + std::u16string(kSucceededCaptionText))
      << "the record before the escaped one is still checked";
}

TEST_F(CoreutilsInteropTest, OurDigestFilesPassTheirCheck) {
  Create(common::CALG_MD5);
  Create(common::CALG_SHA1);
  EXPECT_TRUE(Run("md5sum -c --strict --quiet *.dat.md5"));
  EXPECT_TRUE(Run("sha1sum -c --strict --quiet *.dat.sha1"));
}

}  // namespace
