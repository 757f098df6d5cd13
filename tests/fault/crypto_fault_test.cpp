#include <gtest/gtest.h>

#include "app/app_main.h"
#include "create/create_digests.h"
#include "fault/failing_crypto.h"
#include "platform/system_error.h"
#include "support/scripted_desktop.h"
#include "support/temp_dir.h"
#include "verify/verify_digests.h"

namespace {

class CryptoFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    failing_crypto::plan = failing_crypto::Plan();
    ASSERT_TRUE(platform::SystemErrorText(failing_crypto::kCode, &error_text_));
  }

  // Whether the only box is the platform's message for the injected error.
  bool ShowedOnlyTheError() const {
    return desktop_.boxes.size() == 1 &&
           desktop_.boxes[0].text == error_text_.View() &&
           !desktop_.boxes[0].has_caption &&
           desktop_.boxes[0].style == MB_ICONERROR;
  }

  TempDirectory dir_;
  ScriptedDesktop desktop_;
  WideString error_text_;
};

TEST_F(CryptoFaultTest, NoProviderMeansOneErrorBoxAndExitCodeOne) {
  failing_crypto::plan.fail_acquire = true;
  desktop_.Hold(VK_SHIFT);
  EXPECT_EQ(AppMain(desktop_), 1);
  EXPECT_TRUE(ShowedOnlyTheError());
  EXPECT_TRUE(desktop_.key_queries.empty()) << "keys are not read";
}

TEST_F(CryptoFaultTest, VerificationEndsWithoutReportWhenAHashCannotBeMade) {
  WriteBytes("a.txt", "");
  WriteBytes("a.md5",
             "00000000000000000000000000000000 *a.txt\n"
             "00000000000000000000000000000000 *a.txt\n");
  CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  failing_crypto::plan.creates_before_failure = 1;
  EXPECT_EQ(VerifyDigests(desktop_, provider), 0);
  EXPECT_TRUE(ShowedOnlyTheError());
}

TEST_F(CryptoFaultTest, VerificationEndsWithoutReportWhenNoValueComes) {
  WriteBytes("a.txt", "");
  WriteBytes("a.md5", "00000000000000000000000000000000 *a.txt\n");
  CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  failing_crypto::plan.fail_value = true;
  EXPECT_EQ(VerifyDigests(desktop_, provider), 0);
  EXPECT_TRUE(ShowedOnlyTheError());
}

TEST_F(CryptoFaultTest, CreationStopsBeforeWritingWhenAHashCannotBeMade) {
  WriteBytes("a.txt", "");
  WriteBytes("b.txt", "");
  CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  failing_crypto::plan.creates_before_failure = 0;
  EXPECT_EQ(CreateDigests(desktop_, provider, CALG_MD5, WideString(u"md5")), 0);
  EXPECT_TRUE(ShowedOnlyTheError());
  EXPECT_EQ(Snapshot().size(), 2u);
}

TEST_F(CryptoFaultTest, CreationStopsWhenNoValueComes) {
  WriteBytes("a.txt", "");
  CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  failing_crypto::plan.fail_value = true;
  EXPECT_EQ(CreateDigests(desktop_, provider, CALG_MD5, WideString(u"md5")), 0);
  EXPECT_TRUE(ShowedOnlyTheError());
  EXPECT_FALSE(Exists("a.txt.md5"));
}

}  // namespace
