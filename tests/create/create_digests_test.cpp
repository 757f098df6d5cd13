#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/for_each_entry.h"
#include "support/run_test.h"
#include "support/texts.h"

namespace {

class CreateDigestsTest : public RunTest {
 protected:
  bool ShowedCompletion() const {
    for (const RecordedBox& box : desktop_.boxes) {
      if (box.text == kDoneText && box.caption == kDoneCaptionText &&
          box.style == desktop::MB_ICONINFORMATION) {
        return true;
      }
    }
    return false;
  }
};

// Several workers hash ahead, yet the run is one pass: the same digest files
// (stale digest files rewritten before they are themselves hashed), the same
// boxes, and a stop at the same file, with nothing written after it. The
// report of a verification is the same too.
TEST_F(CreateDigestsTest, SeveralWorkersWriteWhatOnePassWrites) {
  for (int i = 0; i < 60; ++i) {
    WriteBytes("f" + std::to_string(i) + ".txt", Pattern(i * 997));
  }
  std::filesystem::create_directory("f30.txt.md5");  // no file can go there
  const std::map<std::string, std::string> before = Snapshot();
  auto run = [&](unsigned workers) {
    for (const auto& [name, bytes] : Snapshot()) {
      if (before.count(name) == 0) std::filesystem::remove(PathOf(name));
    }
    for (int i = 0; i < 60; i += 3) {
      WriteBytes("f" + std::to_string(i) + ".txt.md5", "stale");
    }
    ScriptedDesktop desktop;
    create::CreateDigests(desktop, provider_, common::CALG_MD5,
                          common::WideString(u"md5"), On(workers));
    return std::make_pair(Snapshot(), desktop.boxes);
  };
  const auto one_pass = run(1);
  ASSERT_EQ(one_pass.second.size(), 1u);  // the error, no completion
  for (int attempt = 0; attempt < 5; ++attempt) {
    const auto parallel = run(4);
    EXPECT_EQ(parallel.first, one_pass.first);
    ASSERT_EQ(parallel.second.size(), 1u);
    EXPECT_EQ(parallel.second[0].text, one_pass.second[0].text);
  }
  std::filesystem::remove("f30.txt.md5");
  create::CreateDigests(desktop_, provider_, common::CALG_MD5,
                        common::WideString(u"md5"), On(4));
  WriteBytes("f7.txt", "changed");
  std::filesystem::remove(PathOf("f9.txt"));
  std::vector<std::u16string> reports;
  for (unsigned workers : {1u, 4u, 4u}) {
    ScriptedDesktop desktop;
    verify::VerifyDigests(desktop, provider_, On(workers));
    reports.emplace_back();
    for (const RecordedBox& box : desktop.boxes) reports.back() += box.text;
  }
  EXPECT_NE(reports[0].find(u"f7.txt - " + std::u16string(kMismatchText)),
            std::u16string::npos);
  EXPECT_EQ(reports[1], reports[0]);
  EXPECT_EQ(reports[2], reports[0]);
}

TEST_F(CreateDigestsTest, OnlySubdirectories) {
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory("sub.md5");
  Create(common::CALG_MD5);
  EXPECT_TRUE(Snapshot().empty());
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_TRUE(ShowedCompletion());
}

TEST_F(CreateDigestsTest, OneRecordPerFileByteForByte) {
  WriteBytes("empty", "");
  WriteBytes("f4096", Pattern(4096));
  WriteBytes("no dot name", "abc");
  Create(common::CALG_MD5);
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
  Create(common::CALG_SHA1);
  EXPECT_EQ(ReadBytes("f4097.sha1"),
            "fdb2e012e62d840b9ea0bb5d7bcfd4e4378a41e9 *f4097\n");
}

TEST_F(CreateDigestsTest, ExistingDigestFilesAreOverwrittenAndHashedOnce) {
  WriteBytes("a.txt", "");
  WriteBytes("a.txt.md5", "old content");
  // The directory's order: a.txt first means a.txt.md5 is read new.
  bool new_first = false;
  platform::ErrorCode broken = 0;
  platform::ForEachEntry(
      common::WideString(u"*.*"),
      [&](const platform::DirectoryEntry& entry) {
        if (entry.name.View() == u"a.txt") new_first = true;
        return entry.name.View() != u"a.txt" &&
               entry.name.View() != u"a.txt.md5";
      },
      &broken);
  Create(common::CALG_MD5);
  EXPECT_EQ(ReadBytes("a.txt.md5"), std::string(kEmptyMd5) + " *a.txt\n");
  // a.txt.md5 was listed before the run wrote anything, so it is hashed once,
  // holding what a single pass finds there: new once a.txt's turn is over.
  EXPECT_EQ(ReadBytes("a.txt.md5.md5"),
            new_first ? "5dd3a7d4b84d7370948d1fe905ecf35b *a.txt.md5\n"
                      : "0f5f13cf0b14c88bd431ef163b63d68d *a.txt.md5\n");
  EXPECT_FALSE(Exists("a.txt.md5.md5.md5"));
  EXPECT_EQ(Snapshot().size(), 3u);
}

TEST_F(CreateDigestsTest, AnOutputThatCannotBeCreatedStopsTheRun) {
  WriteBytes("a.txt", "x");
  std::filesystem::create_directory("a.txt.md5");
  Create(common::CALG_MD5);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].style, desktop::MB_ICONERROR);
  EXPECT_FALSE(desktop_.boxes[0].has_caption);
  EXPECT_FALSE(desktop_.boxes[0].text.empty());
  EXPECT_FALSE(ShowedCompletion());
}

}  // namespace
