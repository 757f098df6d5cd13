#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "progress/progress_texts.h"
#include "support/fake_clock.h"
#include "support/run_test.h"
#include "support/texts.h"
#include "support/utf.h"

namespace {

const std::string kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";
const std::string kAbcSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";

class VerifyDigestsTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    WriteBytes("abc.txt", "abc");
  }
};

TEST_F(VerifyDigestsTest, OneMatchingRecord) {
  WriteBytes("abc.txt.md5", kAbcMd5 + " *abc.txt\n");
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(LastBox().text,
            u"abc.txt - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
  EXPECT_EQ(LastBox().caption, kSucceededCaptionText);
  EXPECT_EQ(LastBox().style, desktop::MB_ICONINFORMATION);
}

TEST_F(VerifyDigestsTest, ASecondRecordThatDoesNotMatch) {
  WriteBytes("other.txt", "abd");
  WriteBytes("list.md5", kAbcMd5 + " *abc.txt\n" + kAbcMd5 + " *other.txt\n");
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(LastBox().text, u"abc.txt - OK\r\nother.txt - " +
                                std::u16string(kMismatchText) + u"\r\n\r\n" +
                                kFailedCaptionText);
  EXPECT_EQ(LastBox().caption, kFailedCaptionText);
  EXPECT_EQ(LastBox().style, desktop::MB_ICONERROR);
}

TEST_F(VerifyDigestsTest, Md5RecordsComeBeforeSha1Records) {
  WriteBytes("a.sha1", kAbcSha1 + " *abc.txt\n");
  WriteBytes("z.md5", kAbcMd5 + " *abc.txt\n");
  WriteBytes("B.MD5", "0000 *missing\n");
  Verify();
  const std::u16string text = LastBox().text;
  const auto sha1_line = text.rfind(u"abc.txt - OK");
  ASSERT_NE(sha1_line, std::u16string::npos);
  EXPECT_LT(text.find(u"missing - "), sha1_line) << "A.MD5 is an md5 file";
  EXPECT_LT(text.find(u"abc.txt - OK"), sha1_line);
  EXPECT_EQ(text.substr(sha1_line),
            u"abc.txt - OK\r\n\r\n" + std::u16string(kFailedCaptionText));
}

// The folder is listed on a thread of its own and its lists are read ahead
// on the workers: the boxes, the report among them, are those of one
// thread reading each list in turn, whatever lists are read when. Among
// them a folder of small lists, one record each, some malformed, some
// naming missing files; and *.sha1 lists that cannot be read, the first of
// which ends their scan.
TEST_F(VerifyDigestsTest, ListingWhileReadingGivesTheBoxesOfOneThread) {
  for (int i = 0; i < 60; ++i) {
    const std::string n = std::to_string(i);
    WriteBytes("l" + n + ".md5",
               kAbcMd5 + " *abc.txt\n" + kAbcMd5 + " *m" + n + "\n");
    WriteBytes("l" + n + ".sha1", i % 7 ? kAbcSha1 + " *abc.txt\n" : "bad");
    std::filesystem::create_directory("d" + n + ".md5");
    std::error_code no_links;  // where links cannot be made, none
    if (i % 20 == 19) {
      std::filesystem::create_symlink("nowhere", "u" + n + ".sha1", no_links);
    }
  }
  for (int i = 0; i < 2000; ++i) {
    const std::string n = std::to_string(i);
    WriteBytes("s" + n + ".md5", i % 13 == 0  ? kAbcMd5 + " *abc.txt\nbad"
                                 : i % 3 == 0 ? kAbcMd5 + " *missing" + n
                                              : kAbcMd5 + " *abc.txt\n");
  }
  std::vector<RecordedBox> boxes[2];
  for (const unsigned workers : {1u, 4u}) {
    desktop_.boxes.clear();
    EXPECT_EQ(verify::VerifyDigests(desktop_, provider_, On(workers)), 0);
    boxes[workers > 1 ? 1 : 0] = desktop_.boxes;
  }
  ASSERT_EQ(boxes[1].size(), boxes[0].size());
  for (std::size_t i = 0; i < boxes[0].size(); ++i) {
    EXPECT_EQ(boxes[1][i].text, boxes[0][i].text);
    EXPECT_EQ(boxes[1][i].caption, boxes[0][i].caption);
    EXPECT_EQ(boxes[1][i].style, boxes[0][i].style);
  }
  // Every *.md5 list is read: 154 malformed ones are shown.
  EXPECT_GE(boxes[0].size(), 154u + 1u);
  const std::u16string& report = boxes[0].back().text;
  EXPECT_EQ(CountOf(report, kUnreadableText), 60u + 615u);
  EXPECT_GE(CountOf(report, u"abc.txt - OK"), 60u + 2000u - 615u);
}

TEST_F(VerifyDigestsTest, HowDigestTextIsCompared) {
  std::string upper = kAbcMd5;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  std::string zeros_as_g = kAbcMd5;
  for (char& c : zeros_as_g) c = c == '0' ? 'g' : c;
  WriteBytes("a.md5", upper + " *abc.txt\n" +         // case
                          kAbcSha1 + " *abc.txt\n" +  // compared on a prefix
                          kAbcMd5 + "00 abc.txt\n" + zeros_as_g +
                          " *abc.txt\n" +  // 'g' counts as 0
                          kAbcMd5.substr(0, 30) + " *abc.txt\n" +  // short
                          // Bytes past ASCII, read in the code page:
                          // past the compared digits, then within them.
                          kAbcMd5 + "\xC3\xA9 *abc.txt\n" + "\xC3\xA9" +
                          kAbcMd5.substr(2) + " *abc.txt\n");
  Verify();
  EXPECT_EQ(LastBox().text,
            u"abc.txt - OK\r\nabc.txt - " + std::u16string(kMismatchText) +
                u"\r\nabc.txt - OK\r\nabc.txt - OK\r\nabc.txt - " +
                kMismatchText + u"\r\nabc.txt - OK\r\nabc.txt - " +
                kMismatchText + u"\r\n\r\n" + kFailedCaptionText);
}

TEST_F(VerifyDigestsTest, NamesThatAreNotFilesHere) {
  std::filesystem::create_directory("sub");
  WriteBytes("sub/in.txt", "abc");
  const std::string absolute = (dir_.path() / "abc.txt").u8string();
  WriteBytes("a.md5", kAbcMd5 + " *\n" + kAbcMd5 + " *sub\n" + kAbcMd5 +
                          " *sub/in.txt\n" + kAbcMd5 + " *" + absolute + "\n" +
                          kAbcMd5 + " *sub/../abc.txt\n");
  Verify();
  EXPECT_EQ(LastBox().text,
            u" - " + std::u16string(kUnreadableText) + u"\r\nsub - " +
                kUnreadableText + u"\r\nsub/in.txt - OK\r\n" + U16(absolute) +
                u" - OK\r\nsub/../abc.txt - OK\r\n\r\n" + kFailedCaptionText);
}

TEST_F(VerifyDigestsTest, MalformedDigestFiles) {
  WriteBytes("bad1.md5", "xyz *abc.txt\n");
  WriteBytes("bad2.sha1", kAbcSha1);
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(desktop_.boxes[i].text, kMalformedFileText);
    EXPECT_EQ(desktop_.boxes[i].style, desktop::MB_ICONERROR);
  }
  EXPECT_EQ(desktop_.boxes[0].caption, u"bad1.md5");
  EXPECT_EQ(desktop_.boxes[1].caption, u"bad2.sha1");
  EXPECT_EQ(LastBox().text, kNothingToVerifyText);
  EXPECT_FALSE(LastBox().has_caption);
}

TEST_F(VerifyDigestsTest, RecordsBeforeAMalformedOneAreVerified) {
  WriteBytes("a.md5",
             kAbcMd5 + " *abc.txt\nodd *abc.txt\n" + kAbcMd5 + " *never.txt\n");
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(desktop_.boxes[0].caption, u"a.md5");
  EXPECT_EQ(LastBox().text,
            u"abc.txt - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
}

TEST_F(VerifyDigestsTest, FilesWithoutRecordsAndSubdirectoriesAreQuiet) {
  WriteBytes("empty.md5", "");
  WriteBytes("blank.sha1", " \r\n\t\n");
  std::filesystem::create_directory("x.md5");
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(LastBox().text, kNothingToVerifyText);
}

// The window names the record in hand once its file has opened, as the
// report names it, and nothing before: a missing file is never named.
TEST_F(VerifyDigestsTest, TheWindowNamesOnlyWhatHasOpened) {
  const std::string zeros_md5 = "2c7ab85a893283e98c931e9511add182";  // 16 MiB
  std::string list;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "z" + std::to_string(i) + ".bin";
    WriteBytes(name, "");
    std::filesystem::resize_file(PathOf(name), std::uint64_t{16} << 20);
    list += zeros_md5 + " *" + name + "\n";
  }
  WriteBytes("all.md5", list + zeros_md5 + " *missing.bin\n");
  for (const unsigned workers : {1u, 3u}) {
    ScriptedDesktop desktop;
    FakeClock clock;
    verify::VerifyDigests(desktop, provider_, On(workers, &clock));
    ASSERT_EQ(desktop.progress.size(), 1u);
    for (const desktop::ProgressView& view : desktop.progress[0].views) {
      if (view.name.IsEmpty()) continue;
      EXPECT_EQ(view.name.View(), u"z" + progress::Digits(view.done) + u".bin");
    }
  }
}

TEST_F(VerifyDigestsTest, NoDigestFilesAtAll) {
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(LastBox().text, kNothingToVerifyText);
  EXPECT_EQ(LastBox().style, desktop::MB_ICONERROR);
}

}  // namespace
