#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "progress/progress_texts.h"
#include "progress/recent_rate.h"
#include "run/pass_run.h"
#include "run/run_feed.h"
#include "support/fake_clock.h"
#include "support/run_test.h"
#include "support/texts.h"
#include "support/utf.h"

namespace {

using ListReadingTest = RunTest;

// The rate follows the last ten seconds: a run that speeds up or slows
// down is told so within them, and a stuck read is seen as still.
TEST(ProgressTextTest, TheRateIsRecent) {
  progress::RecentRate rate;
  double per_second = 0;
  EXPECT_FALSE(rate.PerSecond(&per_second));
  std::uint64_t amount = 0;
  int t = 0;
  const auto run = [&](int seconds, std::uint64_t per) {
    for (int i = 0; i < seconds * 4; ++i) {
      t += 250;
      amount += per / 4;
      rate.Add(progress::Duration(t), amount);
    }
  };
  run(30, 1000);
  ASSERT_TRUE(rate.PerSecond(&per_second));
  EXPECT_DOUBLE_EQ(per_second, 1000);
  run(10, 8000);  // faster: over the whole run it would read 2750
  ASSERT_TRUE(rate.PerSecond(&per_second));
  EXPECT_NEAR(per_second, 8000, 200);
  run(12, 400);  // slower again
  ASSERT_TRUE(rate.PerSecond(&per_second));
  EXPECT_NEAR(per_second, 400, 40);
  EXPECT_EQ(rate.Still(progress::Duration(t)).count(), 0);
  run(6, 0);  // stuck
  EXPECT_EQ(rate.Still(progress::Duration(t)).count(), 6000);
}

// A run as RunPass sees it, driven by the fake clock's time: `pass` runs on
// its own thread with the stage and the desktop it may show boxes on.
class PassTest : public ::testing::Test {
 protected:
  void Run(const std::function<void(desktop::Desktop&)>& pass) {
    run::RunPass(desktop_, clock_, pipeline::Threads(2),
                 common::WideString(u"t"), stage_, pass);
  }
  // A run hashing `count` items, kPerSecond of them done as the time moves
  // on from its start, until `end` ms later. The count moves with the
  // clock, and the clock stands until the pass has begun, so a busy machine
  // cannot make either lag.
  void RunHashing(std::size_t count, int end) {
    clock_.Hold(true);
    windows_before_ = desktop_.progress.size();
    Run([&](desktop::Desktop&) { Hash(count, end); });
  }
  void Hash(std::size_t count, int end) {
    const auto counters = std::make_shared<run::Counters>();
    const progress::Duration start = clock_.Now();
    start_.store(start);
    end_.store(end);
    count_.store(count);
    counters_.store(counters.get());
    run::Watch watch;
    watch.count = count;
    watch.counters = counters;
    watch.name_at = [](std::size_t) { return common::WideString(u"n"); };
    stage_->Hash(std::move(watch));
    clock_.Hold(false);
    while ((clock_.Now() - start).count() < end) {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    counters_.store(nullptr);
  }

  static constexpr std::size_t kPerSecond = 40;
  std::atomic<progress::Duration> start_{progress::Duration(0)};
  std::atomic<std::size_t> count_{0};
  std::atomic<int> end_{0};
  std::size_t windows_before_ = 0;  // the desktop's thread's alone
  std::atomic<run::Counters*> counters_{nullptr};
  FakeClock clock_{
      progress::Duration::max(), [this](progress::Duration now) {
        run::Counters* counters = counters_.load();
        if (counters == nullptr) return;
        const std::size_t done =
            std::min(count_.load(),
                     static_cast<std::size_t>((now - start_.load()).count()) *
                         kPerSecond / 1000);
        counters->files_done.store(done);
        counters->bytes_done.store(done << 20);
        // At the run's end, with no window showing, time stands
        // until the pass sees the end, however late it is
        // scheduled. (A window shown needs time to close: it
        // stays a second.) This runs on the desktop's thread.
        if ((now - start_.load()).count() >= end_.load() &&
            desktop_.progress.size() == windows_before_) {
          clock_.Hold(true);
        }
      }};
  ScriptedDesktop desktop_;
  std::shared_ptr<run::Stage> stage_ = std::make_shared<run::Stage>();
};

// At 2 s a window shows only where the estimate leaves a second or more,
// at 4 s whatever it leaves; once shown it stays a second, though the run
// ends sooner.
TEST_F(PassTest, NoWindowFlashes) {
  RunHashing(100, 2500);
  EXPECT_TRUE(desktop_.progress.empty());  // 0.5 s left at 2 s
  stage_ = std::make_shared<run::Stage>();
  RunHashing(200, 2100);
  ASSERT_EQ(desktop_.progress.size(), 1u);
  EXPECT_GE(desktop_.progress[0].views.size(), 4u);  // 2 s to 3 s
  EXPECT_FALSE(desktop_.progress[0].cancelled);
  // Every item done at 2.5 s, then stuck (a last flush): it looks about to
  // end all along, and shows at twice the quiet time.
  stage_ = std::make_shared<run::Stage>();
  progress::Duration opened{-1};
  desktop_.CancelProgressWhen([&] {
    if (opened.count() < 0) opened = clock_.Now() - start_.load();
    return false;
  });
  RunHashing(100, 5000);
  ASSERT_EQ(desktop_.progress.size(), 2u);
  EXPECT_EQ(opened.count(), 4000);
}

// Update k comes 2 s + k * 250 ms after the start: the speed from 5 s of
// hashing on, then the time left too while some is left (400 items at 40 a
// second; the run ends at 9 s). The phase may be seen a look late.
TEST_F(PassTest, SpeedAndTimeLeftComeFromFiveSecondsOfHashing) {
  RunHashing(400, 9000);
  ASSERT_EQ(desktop_.progress.size(), 1u);
  const auto& views = desktop_.progress[0].views;
  ASSERT_GE(views.size(), 28u);
  for (std::size_t k = 0; k < 28; ++k) {
    if (k == 12) continue;  // 5 s, or a look late
    const double at = 2 + 0.25 * static_cast<double>(k);
    EXPECT_EQ(views[k].speed_known, at >= 5) << k;
    EXPECT_EQ(views[k].left_known, at >= 5) << k;
    EXPECT_NEAR(static_cast<double>(views[k].seconds_left),
                views[k].left_known ? 10 - at : 0, 1)
        << k;
  }
}

// Ctrl+C before any window shows: the watch's cancel, heard on a thread of
// its own, stops the run and the desktop's wait; a box asked for after it
// is answered unseen, and the watch ends with the run.
TEST_F(PassTest, AnInterruptCancelsBeforeAnyWindowShows) {
  // Time stands, so that a listener thread started late under load still
  // comes before any window.
  clock_.Hold(true);
  int answer = 0;
  Run([&](desktop::Desktop& shown) {
    std::thread hears([&] {
      while (!desktop_.Interrupt()) std::this_thread::yield();
    });
    hears.join();
    EXPECT_TRUE(stage_->Stopped());
    answer =
        shown.ShowMessageBox(common::WideString(u"x"), common::WideString(u"c"),
                             desktop::MB_ICONERROR | desktop::MB_YESNO);
  });
  EXPECT_EQ(answer, desktop::IDOK);
  EXPECT_TRUE(desktop_.progress.empty());
  EXPECT_TRUE(desktop_.boxes.empty());
  EXPECT_FALSE(desktop_.Interrupt());
}

// One percentage for the whole run, which never goes back: 60,000 digest
// files read fill its first tenth, then the hashing the rest.
TEST_F(PassTest, OnePercentageForTheWholeRun) {
  clock_.Hold(true);
  Run([&](desktop::Desktop&) {
    stage_->lists.store(60000);
    stage_->ReadLists();
    clock_.Hold(false);
    for (std::size_t read = 0; read <= 60000; read += 1000) {
      stage_->listed.store(read);
      const progress::Duration at = clock_.Now();
      while ((clock_.Now() - at).count() < 100) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
    clock_.Hold(true);
    Hash(200, 6000);
  });
  ASSERT_EQ(desktop_.progress.size(), 1u);
  unsigned last = 0, reading = 0, hashing = 0;
  for (const desktop::ProgressView& view : desktop_.progress[0].views) {
    EXPECT_GE(view.percent, last);
    last = view.percent;
    if (view.unit == progress::Unit::kDigestFiles) {
      ++reading;
      EXPECT_LE(view.percent, run::kListsPercent);
    } else {
      ++hashing;
    }
  }
  EXPECT_GT(reading, 0u);
  EXPECT_GT(hashing, 0u);
  EXPECT_GT(last, 90u);
}

// The count starts with the run: the folder's files counted as listed. A
// box the run shows closes the window first, and 2 s pass again after it.
TEST_F(PassTest, ABoxClosesTheWindowAndTheQuietTimeStartsAgain) {
  std::vector<progress::Duration> opened;
  progress::Duration box_at{0};
  std::atomic<std::size_t> windows{0};
  desktop_.CancelProgressWhen([&] {
    if (desktop_.progress.back().views.empty()) {
      opened.push_back(clock_.Now());
      windows.store(desktop_.progress.size());
    }
    return false;
  });
  desktop_.WhileShown([&] { box_at = clock_.Now(); });
  const auto wait_for = [&](std::size_t shown) {
    while (windows.load() < shown) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  };
  Run([&](desktop::Desktop& shown) {
    stage_->listed.store(5);
    wait_for(1);
    shown.ShowMessageBox(common::WideString(u"x"), common::WideString(u"c"),
                         desktop::MB_ICONERROR);
    wait_for(2);
  });
  ASSERT_EQ(desktop_.progress.size(), 2u);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text, u"x");
  const desktop::ProgressView& first = desktop_.progress[0].views.at(0);
  EXPECT_EQ(first.unit, progress::Unit::kListed);
  EXPECT_EQ(progress::HeadingText(first.unit, first.done, first.all, 0),
            u"5 ファイル");
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].count(), 2000);
  EXPECT_GE(box_at, opened[0]);
  EXPECT_EQ((opened[1] - box_at).count(), 2000);
}

// A cancel while the lists are read ends the reading: the report has no
// line, and says that none was checked, not how many were left.
TEST_F(ListReadingTest, ACancelWhileListsAreReadReportsNoLine) {
  std::string list;
  for (int i = 0; i < 1000000; ++i) list += std::string(32, '0') + " *n\n";
  WriteBytes("big.md5", list);
  WriteBytes("small.sha1", std::string(40, '0') + " *n\n");
  bool reading = false;
  // Once the window has the lists' bytes, which it asks for once it shows
  // and the walk has found them all.
  desktop_.CancelProgressWhen([&] {
    const auto& views = desktop_.progress.back().views;
    reading = !views.empty() &&
              views.back().unit == progress::Unit::kDigestFiles &&
              views.back().bytes_all != 0;
    return reading;
  });
  FakeClock clock;
  verify::VerifyDigests(desktop_, provider_, On(2, &clock));
  ASSERT_TRUE(reading);
  const desktop::ProgressView& view = desktop_.progress[0].views.back();
  EXPECT_EQ(view.all, 2u);
  EXPECT_EQ(view.bytes_all, list.size() + 44);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  // How many records the lists hold is not known: no number.
  EXPECT_EQ(LastText(),
            std::u16string(u"検証を中止しました。1件も検証していません。"
                           u"\r\n\r\n") +
                kFailedCaptionText);
}

}  // namespace
