// Memory that runs out on any thread of a run (the pass's, a worker's, the
// desktop's) ends the run with the platform's own text, never the process.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/app_main.h"
#include "fault/failing_allocator.h"
#include "fault/failing_crypto.h"
#include "platform/last_error.h"
#include "platform/system_error.h"
#include "support/scripted_desktop.h"
#include "support/temp_dir.h"
#include "support/texts.h"

namespace {

class MemoryFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { failing_crypto::plan = failing_crypto::Plan(); }
  void TearDown() override { failing_allocator::Disarm(); }

  // One run, the run's threads failing from their allocation `allowed` on.
  ScriptedDesktop RunFailingAfter(long allowed, bool create) {
    ScriptedDesktop desktop;
    if (create) {
      desktop.Hold(VK_SHIFT);
      desktop.Answer(IDYES);
    }
    failing_allocator::FailOtherThreadsAfter(allowed);
    EXPECT_EQ(AppMain(desktop), 0) << allowed;
    failing_allocator::Disarm();
    return desktop;
  }

  TempDirectory dir_;
};

// Every point at which a run's threads can run out, in turn, until one has
// memory enough: each ends as a failed run with the memory box alone, and
// what creation wrote before stays, each digest file whole.
TEST_F(MemoryFaultTest, EachFailedAllocationEndsTheRunWithTheMemoryBox) {
  WideString memory;
  ASSERT_TRUE(
      platform::SystemErrorText(platform::kErrorNotEnoughMemory, &memory));
  for (const char* name :
       {"a.txt", "a name longer than a short string.txt", "c.txt", "d.txt"}) {
    WriteBytes(name, name);
  }
  const std::map<std::string, std::string> plain = Snapshot();
  RunFailingAfter(1 << 30, true);
  const std::map<std::string, std::string> created = Snapshot();
  for (const bool create : {true, false}) {
    long allowed = 0;
    for (bool ended = false; !ended && allowed < 100000; ++allowed) {
      if (create) {
        for (const auto& [name, bytes] : created) {
          if (plain.count(name) == 0) std::filesystem::remove(PathOf(name));
        }
      }
      const ScriptedDesktop desktop = RunFailingAfter(allowed, create);
      ASSERT_FALSE(desktop.boxes.empty());
      const RecordedBox& last = desktop.boxes.back();
      ended = last.text != memory.View();
      if (ended) {
        EXPECT_EQ(last.caption,
                  create ? kDoneCaptionText : kSucceededCaptionText);
      }
      EXPECT_EQ(desktop.boxes.size(), create ? 2u : 1u) << allowed;
      for (const auto& [name, bytes] : Snapshot()) {
        const auto made = created.find(name);
        EXPECT_TRUE(made != created.end() && bytes == made->second)
            << name << " after " << allowed;
      }
    }
    EXPECT_GT(allowed, 1) << "no run ran out";
  }
}

}  // namespace
