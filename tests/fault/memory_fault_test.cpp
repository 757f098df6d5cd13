// Memory that runs out on any thread of a run (the pass's, a worker's, the
// desktop's) ends the run with the platform's own text, never the process.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/app_main.h"
#include "fault/failing_allocator.h"
#include "fault/failing_crypto.h"
#include "platform/system_error.h"
#include "support/scripted_desktop.h"
#include "support/temp_dir.h"
#include "support/texts.h"

namespace {

// Every point at which a run's threads can run out, in turn, until one has
// memory enough: each ends as a failed run with the memory box alone, exit
// code 0, and what creation wrote before stays, each digest file whole.
TEST(MemoryFaultTest, EachFailedAllocationEndsTheRunWithTheMemoryBox) {
  failing_crypto::plan = failing_crypto::Plan();
  const TempDirectory dir;
  common::WideString memory;
  ASSERT_TRUE(
      platform::SystemErrorText(platform::kErrorNotEnoughMemory, &memory));
  for (const char* name : {"a.txt", "a name past a short string.txt", "c"}) {
    WriteBytes(name, name);
  }
  const auto plain = Snapshot();
  for (const int run : {0, 1, 2}) {  // a full creation, creations, checks
    const bool create = run < 2;
    const auto created = Snapshot();
    long allowed = run == 0 ? 1L << 30 : 0;
    for (bool ended = false; !ended; ++allowed) {
      for (const auto& [name, bytes] : created) {
        if (create && plain.count(name) == 0)
          std::filesystem::remove(PathOf(name));
      }
      ScriptedDesktop desktop;
      if (create) {
        desktop.Hold(desktop::VK_SHIFT);
        desktop.Answer(desktop::IDYES);
      }
      failing_allocator::FailOtherThreadsAfter(allowed);
      EXPECT_EQ(app::AppMain(desktop), 0);
      failing_allocator::Disarm();
      ASSERT_EQ(desktop.boxes.size(), create ? 2u : 1u) << allowed;
      ended = desktop.boxes.back().text != memory.View();
      EXPECT_TRUE(!ended ||
                  desktop.boxes.back().caption ==
                      (create ? kDoneCaptionText : kSucceededCaptionText));
      for (const auto& [name, bytes] : Snapshot()) {
        EXPECT_TRUE(run == 0 ||
                    (created.count(name) == 1 && bytes == created.at(name)))
            << name << " after " << allowed;
      }
    }
    EXPECT_TRUE(run == 0 || allowed > 1) << "no run ran out";
  }
}

}  // namespace
