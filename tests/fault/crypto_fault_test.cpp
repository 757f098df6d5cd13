#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/app_main.h"
#include "create/create_digests.h"
#include "fault/failing_crypto.h"
#include "platform/system_error.h"
#include "run/settings.h"
#include "support/fake_clock.h"
#include "support/scripted_desktop.h"
#include "support/temp_dir.h"
#include "verify/verify_digests.h"

namespace {

class CryptoFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    failing_crypto::plan = failing_crypto::Plan();
    failing_crypto::gate.data_calls.store(0);
    failing_crypto::gate.entered.store(false);
    failing_crypto::gate.open.store(false);
    ASSERT_TRUE(platform::SystemErrorText(failing_crypto::kCode, &error_text_));
  }

  // Whether the only box is the platform's message for the injected error.
  bool ShowedOnlyTheError() const {
    return desktop_.boxes.size() == 1 &&
           desktop_.boxes[0].text == error_text_.View() &&
           !desktop_.boxes[0].has_caption &&
           desktop_.boxes[0].style == desktop::MB_ICONERROR;
  }

  TempDirectory dir_;
  ScriptedDesktop desktop_;
  common::WideString error_text_;
};

TEST_F(CryptoFaultTest, NoProviderMeansOneErrorBoxAndExitCodeOne) {
  failing_crypto::plan.fail_acquire = true;
  desktop_.Hold(desktop::VK_SHIFT);
  EXPECT_EQ(app::AppMain(desktop_), 1);
  EXPECT_TRUE(ShowedOnlyTheError());
  EXPECT_TRUE(desktop_.key_queries.empty()) << "keys are not read";
}

TEST_F(CryptoFaultTest, VerificationEndsWithoutReportWhenAHashCannotBeMade) {
  WriteBytes("a.txt", "");
  WriteBytes("a.md5",
             "00000000000000000000000000000000 *a.txt\n"
             "00000000000000000000000000000000 *a.txt\n");
  hash::CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  failing_crypto::plan.creates_before_failure = 1;
  EXPECT_EQ(verify::VerifyDigests(desktop_, provider), 0);
  EXPECT_TRUE(ShowedOnlyTheError());
}

TEST_F(CryptoFaultTest, VerificationEndsWithoutReportWhenNoValueComes) {
  WriteBytes("a.txt", "");
  WriteBytes("a.md5", "00000000000000000000000000000000 *a.txt\n");
  hash::CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  failing_crypto::plan.fail_value = true;
  EXPECT_EQ(verify::VerifyDigests(desktop_, provider), 0);
  EXPECT_TRUE(ShowedOnlyTheError());
}

TEST_F(CryptoFaultTest, CreationStopsBeforeWritingWhenAHashCannotBeMade) {
  WriteBytes("a.txt", "");
  WriteBytes("b.txt", "");
  hash::CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  failing_crypto::plan.creates_before_failure = 0;
  EXPECT_EQ(create::CreateDigests(desktop_, provider, common::CALG_MD5,
                                  common::WideString(u"md5")),
            0);
  EXPECT_TRUE(ShowedOnlyTheError());
  EXPECT_EQ(Snapshot().size(), 2u);
}

TEST_F(CryptoFaultTest, CreationStopsWhenNoValueComes) {
  WriteBytes("a.txt", "");
  hash::CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  failing_crypto::plan.fail_value = true;
  EXPECT_EQ(create::CreateDigests(desktop_, provider, common::CALG_MD5,
                                  common::WideString(u"md5")),
            0);
  EXPECT_TRUE(ShowedOnlyTheError());
  EXPECT_FALSE(Exists("a.txt.md5"));
}

// Threads that tell when the last of them has ended, so that a test lets
// go of what a thread left in a call may still touch.
struct CountedThreads {
  std::shared_ptr<std::atomic<int>> live =
      std::make_shared<std::atomic<int>>(0);
  pipeline::Threads Of(unsigned workers) const {
    pipeline::Threads threads(workers);
    threads.start = [live = live](std::function<void()> body,
                                  std::thread* thread) {
      live->fetch_add(1);
      if (pipeline::StartThread(
              [live, body = std::move(body)] {
                body();
                live->fetch_sub(1);
              },
              thread)) {
        return true;
      }
      live->fetch_sub(1);
      return false;
    };
    return threads;
  }
  void WaitForAll() const {
    while (live->load() > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
};

// The box of a run cancelled while its third hash never returned.
void ExpectCancelledAtTheThird(const RecordedBox& box, bool creation,
                               unsigned workers) {
  EXPECT_EQ(box.style, desktop::MB_ICONWARNING) << creation << workers;
  if (creation && workers == 1) {
    // Listed: f0..f4 and all.md5; two were written before the stuck one,
    // and are in place though the pass that staged them never returned.
    EXPECT_EQ(box.text, u"作成を中止しました。残りの4件は作成していません。");
    int in_place = 0;
    for (const char* name :
         {"f0.md5", "f1.md5", "f2.md5", "f3.md5", "f4.md5", "all.md5.md5"}) {
      std::FILE* file = std::fopen(name, "rb");
      if (file != nullptr) {
        ++in_place;
        std::fclose(file);
      }
    }
    EXPECT_EQ(in_place, 2);
  } else if (creation) {
    // Which file is stuck depends on what the workers took first.
    EXPECT_EQ(box.text.find(u"作成を中止しました。残りの"), 0u);
  } else if (workers == 1) {
    EXPECT_EQ(box.text,
              u"f0 - OK\r\nf1 - OK\r\n検証を中止しました。残りの3件は検証"
              u"していません。\r\n\r\n検証に失敗しました。");
  } else {
    EXPECT_NE(box.text.find(u"件は検証していません。"), std::u16string::npos);
  }
}

// A cancel while a file's hash never returns, on a worker or on the pass
// itself: the report so far, or the cancelled creation's box, comes within
// a second of the cancel, and the stuck thread is left to end by itself.
TEST_F(CryptoFaultTest, ACancelAnswersWhileAHashNeverReturns) {
  std::string list;
  for (int i = 0; i < 5; ++i) {
    const std::string name = "f" + std::to_string(i);
    WriteBytes(name, "x");
    list += "00000000000000000000000000000000 *" + name + "\n";
  }
  WriteBytes("all.md5", list);
  hash::CryptProvider provider;
  ASSERT_TRUE(provider.Acquire());
  for (const bool creation : {false, true}) {
    for (const unsigned workers : {1u, 2u}) {
      SetUp();
      failing_crypto::plan.blocked_data_call = 2;
      ScriptedDesktop desktop;
      desktop.CancelProgressWhen(
          [] { return failing_crypto::gate.entered.load(); });
      std::chrono::steady_clock::time_point entered;
      std::chrono::steady_clock::time_point shown;
      desktop.WhileShown([&] { shown = std::chrono::steady_clock::now(); });
      std::thread watch([&] {
        while (!failing_crypto::gate.entered.load()) std::this_thread::yield();
        entered = std::chrono::steady_clock::now();
      });
      FakeClock clock;
      const CountedThreads threads;
      const run::Settings settings{threads.Of(workers), &clock};
      if (creation) {
        create::CreateDigests(desktop, provider, common::CALG_MD5,
                              common::WideString(u"md5"), settings);
      } else {
        verify::VerifyDigests(desktop, provider, settings);
      }
      watch.join();
      EXPECT_LT(shown - entered, std::chrono::seconds(1));
      ASSERT_EQ(desktop.boxes.size(), 1u);
      ExpectCancelledAtTheThird(desktop.boxes[0], creation, workers);
      failing_crypto::gate.open.store(true);
      threads.WaitForAll();
      for (int i = 0; i < 5; ++i)
        std::remove(("f" + std::to_string(i) + ".md5").c_str());
      std::remove("all.md5.md5");
    }
  }
}

}  // namespace
