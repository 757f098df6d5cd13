#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
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
        common::WideString(u"*.*"),
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

// Cancels once `updates` views of the hashing (one at least) have shown,
// not while the folder is listed or the lists read.
void CancelWhileHashing(ScriptedDesktop& desktop, int updates) {
  desktop.CancelProgressWhen([&desktop, updates] {
    int hashing = 0;
    for (const desktop::ProgressView& view : desktop.progress.back().views) {
      hashing += view.unit == progress::Unit::kFiles ||
                 view.unit == progress::Unit::kRecords;
    }
    return hashing >= std::max(updates, 1);
  });
}

TEST(ProgressTextTest, TheWordsReadAsTheySay) {
  using progress::LeftText;
  EXPECT_EQ(progress::CountText(progress::Unit::kFiles, 3, 10),
            u"3 / 10 ファイル");
  EXPECT_EQ(progress::CountText(progress::Unit::kRecords, 28998, 60000),
            u"28,998 / 60,000 件");
  EXPECT_EQ(progress::CountText(progress::Unit::kListed, 1234567, 0),
            u"1,234,567 ファイル");
  EXPECT_EQ(progress::Count(999), u"999");
  EXPECT_EQ(progress::Count(100000), u"100,000");
  EXPECT_EQ(progress::PercentText(7), u"7%");
  EXPECT_EQ(progress::SpeedText(u"1.50 MB"), u"1.50 MB/秒");
  EXPECT_EQ(LeftText(0), u"残り約0秒");
  EXPECT_EQ(LeftText(59), u"残り約59秒");
  EXPECT_EQ(LeftText(60), u"残り約1分");
  // Whole minutes, rounded up: never fewer than are left.
  EXPECT_EQ(LeftText(61), u"残り約2分");
  EXPECT_EQ(LeftText(3540), u"残り約59分");
  EXPECT_EQ(LeftText(3541), u"残り約1時間");
  EXPECT_EQ(LeftText(3599), u"残り約1時間");
  EXPECT_EQ(LeftText(3600), u"残り約1時間");
  EXPECT_EQ(LeftText(3601), u"残り約1時間1分");
  EXPECT_EQ(LeftText(10920), u"残り約3時間2分");
  EXPECT_EQ(LeftText(93600), u"残り約26時間");
}

// Three significant digits, rounded as GTK's sizes are, and the unit
// changes before "1000" would show, rounding included.
TEST(ProgressTextTest, TerminalSizesAreDecimal) {
  using progress::DecimalSize;
  EXPECT_EQ(DecimalSize(0), u"0 B");
  EXPECT_EQ(DecimalSize(999), u"999 B");
  EXPECT_EQ(DecimalSize(1000), u"1.00 kB");
  EXPECT_EQ(DecimalSize(1004), u"1.00 kB");
  EXPECT_EQ(DecimalSize(1005), u"1.01 kB");
  EXPECT_EQ(DecimalSize(12345), u"12.3 kB");
  EXPECT_EQ(DecimalSize(9999), u"10.0 kB");
  EXPECT_EQ(DecimalSize(999499), u"999 kB");
  EXPECT_EQ(DecimalSize(999999), u"1.00 MB");
  EXPECT_EQ(DecimalSize(12884901888), u"12.9 GB");
  EXPECT_EQ(DecimalSize(1000000), u"1.00 MB");
  EXPECT_EQ(DecimalSize(1234567890), u"1.23 GB");
  EXPECT_EQ(DecimalSize(1500000000000), u"1.50 TB");
  EXPECT_EQ(DecimalSize(999999999999999), u"1000 TB");
  EXPECT_EQ(DecimalSize(1500000000000000), u"1500 TB");
  EXPECT_EQ(progress::OfText(DecimalSize(0), DecimalSize(1500000000000)),
            u"0 B / 1.50 TB");
}

// A run that ends before 2 s have passed shows nothing new, however long it
// takes in real time.
TEST_F(ProgressTest, NothingShowsBeforeTwoSeconds) {
  WriteZeros("a.bin");
  WriteBytes("a.bin.md5", std::string(kZerosMd5) + " *a.bin\r\n");
  FakeClock clock(progress::Duration(1999));
  verify::VerifyDigests(desktop_, provider_, On(2, &clock));
  EXPECT_TRUE(desktop_.progress.empty());
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(LastText(),
            u"a.bin - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
}

// The views of a verification of 6 records: the one list, read, then its
// records, each counting from nothing, the percentage never going back.
void ExpectViewsOfSixRecords(const RecordedProgress& shown) {
  unsigned percent = 0;
  bool hashing = false;
  for (const desktop::ProgressView& view : shown.views) {
    // A busy machine may show the window before the run's thread has
    // begun, or before the folder's walk has counted the list.
    if (view.unit != progress::Unit::kRecords && !hashing) {
      EXPECT_LE(view.all, 1u);
      EXPECT_LE(view.done, view.all);
      continue;
    }
    if (!hashing) percent = 0;
    hashing = true;
    EXPECT_EQ(view.unit, progress::Unit::kRecords);
    EXPECT_EQ(view.all, 6u);
    EXPECT_TRUE(!view.bytes_known || view.bytes_all == 6 * (16u << 20));
    EXPECT_GE(view.percent, percent);
    EXPECT_LT(view.percent, 100u);
    percent = view.percent;
  }
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
    if (cancel_at >= 0) CancelWhileHashing(desktop, cancel_at);
    FakeClock clock;
    verify::VerifyDigests(desktop, provider_, On(2, &clock));
    ASSERT_EQ(desktop.progress.size(), 1u);
    const RecordedProgress& shown = desktop.progress[0];
    EXPECT_EQ(shown.title, u"ハッシュの検証");
    EXPECT_EQ(shown.cancelled, cancel_at >= 0);
    ExpectViewsOfSixRecords(shown);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    const std::u16string& report = desktop.boxes[0].text;
    const std::size_t checked = CountOf(report, u".bin - OK\r\n");
    if (cancel_at < 0) {
      EXPECT_EQ(checked, 6u);
      // Update k comes 2 s + k * 250 ms after the start: the speed from 5 s
      // of hashing on, and then always; never a time left before it
      // (PassTest times them exactly).
      std::size_t speed_from = shown.views.size();
      for (std::size_t k = 0; k < shown.views.size(); ++k) {
        if (shown.views[k].speed_known) speed_from = std::min(speed_from, k);
        EXPECT_EQ(shown.views[k].speed_known, k >= speed_from) << k;
        EXPECT_TRUE(!shown.views[k].left_known || k >= speed_from) << k;
      }
      EXPECT_GE(speed_from, 12u);
      continue;
    }
    const std::u16string line =
        kCancelledHead + progress::Count(6 - checked) + kCancelledTail;
    EXPECT_LT(checked, 6u);
    EXPECT_EQ(report.substr(report.size() - line.size() - 12),
              line + u"\r\n" + kFailedCaptionText);
    EXPECT_EQ(desktop.boxes[0].caption, kFailedCaptionText);
    // Nothing failed before the cancel: a warning, not an error.
    EXPECT_EQ(desktop.boxes[0].style, desktop::MB_ICONWARNING);
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
    // Once records are checked, after the malformed list's box; without
    // one, once the first record is reported: the window counts it done.
    desktop.CancelProgressWhen([&] {
      const auto& views = desktop.progress.back().views;
      return !views.empty() && views.back().unit == progress::Unit::kRecords &&
             (malformed || views.back().done != 0);
    });
    FakeClock clock;
    verify::VerifyDigests(desktop, provider_, On(2, &clock));
    ASSERT_EQ(desktop.boxes.size(), malformed ? 2u : 1u);
    const RecordedBox& report = desktop.boxes.back();
    EXPECT_NE(report.text.find(u"件は検証していません。"),
              std::u16string::npos);
    EXPECT_EQ(report.style, desktop::MB_ICONERROR) << malformed;
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
    CancelWhileHashing(desktop, cancel_at);
    FakeClock clock;
    create::CreateDigests(desktop, provider_, common::CALG_MD5,
                          common::WideString(u"md5"), On(2, &clock));
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
              kCreateCancelledHead + progress::Count(order.size() - written) +
                  kCreateCancelledTail);
    EXPECT_EQ(desktop.boxes[0].caption, kDoneCaptionText);
    EXPECT_EQ(desktop.boxes[0].style, desktop::MB_ICONWARNING);
  }
}

// Files hashed in turn (a digest file, a link) count in the byte total as
// they do in the bytes done: the bar is never full before the end.
TEST_F(ProgressTest, TotalsCountFilesHashedInTurn) {
  for (const char* name : {"a.bin", "b.bin", "old.bin.md5"}) WriteZeros(name);
  // A link where the system makes one (not under Wine).
  std::error_code no_link;
  std::filesystem::create_symlink("a.bin", PathOf("link.bin"), no_link);
  const std::uint64_t files = no_link ? 3 : 4;
  // The total is gathered beside the run, which a loaded machine may end
  // first: the run is made again until a window knew it.
  bool known = false;
  for (int run = 0; run < 5 && !known; ++run) {
    for (const char* made : {"a.bin", "b.bin", "old.bin.md5", "link.bin"}) {
      std::filesystem::remove(PathOf(std::string(made) + ".md5"));
    }
    ScriptedDesktop desktop;
    FakeClock clock;
    create::CreateDigests(desktop, provider_, common::CALG_MD5,
                          common::WideString(u"md5"), On(2, &clock));
    ASSERT_EQ(desktop.progress.size(), 1u);
    for (const desktop::ProgressView& view : desktop.progress[0].views) {
      EXPECT_EQ(view.all, files);
      if (!view.bytes_known) continue;
      known = true;
      EXPECT_EQ(view.bytes_all, files << 24);
      EXPECT_LT(view.percent, 100u);
    }
  }
  EXPECT_TRUE(known);
}

}  // namespace
