// Digest files written by coreutils verify here, and ours pass md5sum -c.
#include <gtest/gtest.h>

#include <cstdlib>

#include "create/create_digests.h"
#include "support/scripted_desktop.h"
#include "support/temp_dir.h"
#include "support/texts.h"
#include "verify/verify_digests.h"

namespace {

class CoreutilsInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(provider_.Acquire());
    for (int i = 0; i < 50; ++i) {
      WriteBytes("file " + std::to_string(i) + " .dat", Pattern(i * 997));
    }
  }

  static bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
  }

  TempDirectory dir_;
  CryptProvider provider_;
  ScriptedDesktop desktop_;
};

TEST_F(CoreutilsInteropTest, TheirListsVerifyInBothModes) {
  ASSERT_TRUE(
      Run("md5sum *.dat > text.md5 && md5sum --binary *.dat > bin.md5"
          " && sha1sum *.dat > text.sha1 && sha1sum -b *.dat > bin.sha1"));
  VerifyDigests(desktop_, provider_);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  const std::u16string& report = desktop_.boxes[0].text;
  EXPECT_EQ(desktop_.boxes[0].caption, kSucceededCaptionText);
  std::size_t ok = 0;
  for (std::size_t at = report.find(u" .dat - OK\r\n");
       at != std::u16string::npos;
       at = report.find(u" .dat - OK\r\n", at + 1)) {
    ++ok;
  }
  EXPECT_EQ(ok, 200u);
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
  VerifyDigests(desktop_, provider_);
  ASSERT_EQ(desktop_.boxes.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(desktop_.boxes[i].text, kMalformedFileText);
  }
  EXPECT_EQ(desktop_.boxes[2].text,
            u"file 1 .dat - OK\r\n\r\n" + std::u16string(kSucceededCaptionText))
      << "the record before the escaped one is still checked";
}

TEST_F(CoreutilsInteropTest, OurDigestFilesPassTheirCheck) {
  CreateDigests(desktop_, provider_, CALG_MD5, WideString(u"md5"));
  CreateDigests(desktop_, provider_, CALG_SHA1, WideString(u"sha1"));
  EXPECT_TRUE(Run("md5sum -c --strict --quiet *.dat.md5"));
  EXPECT_TRUE(Run("sha1sum -c --strict --quiet *.dat.sha1"));
}

}  // namespace
