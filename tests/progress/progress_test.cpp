#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/for_each_entry.h"
#include "progress/progress_texts.h"
#include "support/fake_clock.h"
#include "support/run_test.h"
#include "support/texts.h"
#include "support/utf.h"

namespace {

constexpr char16_t kCancelledHead[] = u"検証を中止しました。残りの";
constexpr char16_t kCancelledTail[] = u"件は検証していません。\r\n";
constexpr char kZerosMd5[] = "2c7ab85a893283e98c931e9511add182";  // 16 MiB

// Runs long enough to show progress: files of zeros, sparse where the file
// system allows, so the run reads them quickly but not at once.
class ProgressTest : public RunTest {
 protected:
  static void WriteZeros(const std::string& name) {
    WriteBytes(name, "");
    std::filesystem::resize_file(PathOf(name), std::uint64_t{16} << 20);
  }

  // The names in the order a run lists them.
  static std::vector<std::u16string> Listing() {
    std::vector<std::u16string> names;
    platform::ErrorCode broken = 0;
    platform::ForEachEntry(
        WideString(u"*.*"),
        [&](const platform::DirectoryEntry& entry) {
          if (entry.kind == platform::EntryKind::kFile) {
            names.emplace_back(entry.name.View());
          }
          return true;
        },
        &broken);
    return names;
  }
};

TEST(ProgressTextTest, TheLinesReadAsTheySay) {
  EXPECT_EQ(progress::FilesText(3, 10).View(), u"3 / 10 ファイル");
  // Cut, not rounded: 19.99 MB is not yet 20.0.
  EXPECT_EQ(progress::BytesText(1250000, 19999999).View(), u"1.2 / 19.9 MB");
  EXPECT_EQ(progress::SpeedText(3000000, progress::Duration(2000)).View(),
            u"1.5 MB/秒");
  EXPECT_EQ(progress::SpeedText(5, progress::Duration(0)).View(), u"0.0 MB/秒");
  EXPECT_EQ(progress::LeftText(65).View(), u"残り約1分5秒");
  EXPECT_EQ(progress::LeftText(59).View(), u"残り約59秒");
}

// A run that ends before 2 s have passed shows nothing new, however long it
// takes in real time.
TEST_F(ProgressTest, NothingShowsBeforeTwoSeconds) {
  WriteZeros("a.bin");
  WriteBytes("a.bin.md5", std::string(kZerosMd5) + " *a.bin\r\n");
  FakeClock clock(progress::Duration(1999));
  VerifyDigests(desktop_, provider_, On(2, &clock));
  EXPECT_TRUE(desktop_.progress.empty());
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(LastText(),
            u"a.bin - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
}

// Past 2 s the window shows the counts, the speed, then the byte total and
// the time left; a Cancel ends the report with the records not checked, as
// a failure.
TEST_F(ProgressTest, VerificationShowsProgressAndCancels) {
  std::string list;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "z" + std::to_string(i) + ".bin";
    WriteZeros(name);
    list += std::string(kZerosMd5) + " *" + name + "\n";
  }
  WriteBytes("all.md5", list);
  for (const int cancel_at : {-1, 0, 6}) {
    ScriptedDesktop desktop;
    desktop.CancelProgressAt(cancel_at);
    FakeClock clock;
    VerifyDigests(desktop, provider_, On(2, &clock));
    ASSERT_EQ(desktop.progress.size(), 1u);
    const RecordedProgress& shown = desktop.progress[0];
    EXPECT_EQ(shown.title, u"ハッシュの検証");
    EXPECT_EQ(shown.cancelled, cancel_at >= 0);
    for (const platform::ProgressView& view : shown.views) {
      EXPECT_NE(view.files.View().find(u" / 6 ファイル"), std::u16string::npos);
      EXPECT_EQ(view.speed.View().substr(view.speed.Length() - 5), u" MB/秒");
      EXPECT_TRUE(view.bytes.IsEmpty() ||
                  view.bytes.View().find(u" / 100.6 MB") !=
                      std::u16string::npos);
      EXPECT_LE(view.fraction, 1.0);
    }
    ASSERT_EQ(desktop.boxes.size(), 1u);
    const std::u16string& report = desktop.boxes[0].text;
    const std::size_t checked = CountOf(report, u".bin - OK\r\n");
    if (cancel_at < 0) {
      EXPECT_EQ(checked, 6u);
      // Update k comes 2 s + k * 250 ms after the start: time left from 5 s
      // on, wherever some is left.
      bool estimated = false;
      for (std::size_t k = 0; k < shown.views.size(); ++k) {
        const bool told = !shown.views[k].left.IsEmpty();
        if (k < 12) {
          EXPECT_FALSE(told) << k;
        }
        estimated = estimated || told;
      }
      if (shown.views.size() > 24) {
        EXPECT_TRUE(estimated);
      }
      continue;
    }
    const std::u16string line =
        kCancelledHead + progress::Digits(6 - checked) + kCancelledTail;
    EXPECT_LT(checked, 6u);
    EXPECT_EQ(report.substr(report.size() - line.size() - 12),
              line + u"\r\n" + kFailedCaptionText);
    EXPECT_EQ(desktop.boxes[0].caption, kFailedCaptionText);
    // Nothing failed before the cancel: a warning, not an error.
    EXPECT_EQ(desktop.boxes[0].style, MB_ICONWARNING);
  }
}

// A cancel after something failed (a record that does not match, a list
// that is malformed) keeps the error icon.
TEST_F(ProgressTest, ACancelAfterAFailureIsAnError) {
  WriteBytes("bad.txt", "x");
  std::string list = std::string(32, '0') + " *bad.txt\n";
  for (int i = 0; i < 3; ++i) {
    const std::string name = "z" + std::to_string(i) + ".bin";
    WriteZeros(name);
    list += std::string(kZerosMd5) + " *" + name + "\n";
  }
  WriteBytes("all.md5", list);
  for (const bool malformed : {false, true}) {
    if (malformed) WriteBytes("junk.sha1", "not a record\n");
    ScriptedDesktop desktop;
    // Once the first record is reported: the window counts it done.
    desktop.CancelProgressWhen([&] {
      const auto& views = desktop.progress.back().views;
      return malformed || (!views.empty() &&
                           views.back().files.View().substr(0, 2) != u"0 ");
    });
    FakeClock clock;
    VerifyDigests(desktop, provider_, On(2, &clock));
    ASSERT_EQ(desktop.boxes.size(), malformed ? 2u : 1u);
    const RecordedBox& report = desktop.boxes.back();
    EXPECT_NE(report.text.find(u"件は検証していません。"),
              std::u16string::npos);
    EXPECT_EQ(report.style, MB_ICONERROR) << malformed;
    if (!malformed) {
      EXPECT_EQ(report.text.find(u"bad.txt - " + std::u16string(kMismatchText)),
                0u);
    }
  }
}

// A cancelled creation keeps the digest files written before it, writes none
// after it, and says how many it did not write.
TEST_F(ProgressTest, CancelledCreationKeepsWhatItWrote) {
  for (int i = 0; i < 5; ++i) WriteZeros("z" + std::to_string(i) + ".bin");
  const std::vector<std::u16string> order = Listing();
  for (const int cancel_at : {0, 2, 5}) {
    for (const std::u16string& name : order) {
      std::filesystem::remove(PathOf(U8(name) + ".md5"));
    }
    ScriptedDesktop desktop;
    desktop.CancelProgressAt(cancel_at);
    FakeClock clock;
    CreateDigests(desktop, provider_, CALG_MD5, WideString(u"md5"),
                  On(2, &clock));
    ASSERT_EQ(desktop.progress.size(), 1u);
    EXPECT_EQ(desktop.progress[0].title, kDoneCaptionText);
    EXPECT_TRUE(desktop.progress[0].cancelled);
    std::size_t written = 0;
    while (written < order.size() && Exists(U8(order[written]) + ".md5")) {
      EXPECT_EQ(ReadBytes(U8(order[written]) + ".md5"),
                std::string(kZerosMd5) + " *" + U8(order[written]) + "\n");
      ++written;
    }
    EXPECT_LT(written, order.size());
    for (std::size_t i = written; i < order.size(); ++i) {
      EXPECT_FALSE(Exists(U8(order[i]) + ".md5")) << U8(order[i]);
    }
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text,
              kCreateCancelledHead + progress::Digits(order.size() - written) +
                  kCreateCancelledTail);
    EXPECT_EQ(desktop.boxes[0].caption, kDoneCaptionText);
    EXPECT_EQ(desktop.boxes[0].style, MB_ICONWARNING);
  }
}

}  // namespace
