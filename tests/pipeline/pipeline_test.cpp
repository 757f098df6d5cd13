// The pipeline with the suite's own jobs: whatever the schedule, the pass
// sees what one pass computes, and a stop never waits for a stuck worker.
#include "pipeline/pipeline.h"

#include "pipeline/claim_window.h"
#include "pipeline/crew.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

using pipeline::JobEnd;
using pipeline::Pipeline;
using pipeline::Threads;

struct Context : common::JobContext {};

struct Result {
  std::size_t value = 0;
  bool on_pass = false;
};

std::size_t ValueOf(std::size_t index) { return index * 7919 + 13; }

// Rounds over random folders: jobs that sleep a random short time, in-turn
// jobs anywhere in a claim, a stop (the pass's failure) anywhere, workers
// that leave jobs to the pass or run out of descriptors, and as many
// workers as CPUs or more, where the pass never hashes ahead.
TEST(PipelineTest, AnyScheduleHandsOverWhatOnePassComputes) {
  std::mt19937 random(20261209);
#if defined(__SANITIZE_THREAD__)
  const int rounds = 60;
#else
  const int rounds = 400;
#endif
  for (int round = 0; round < rounds; ++round) {
    const std::size_t count = 1 + random() % 60;
    auto in_turn = std::make_shared<std::vector<bool>>(count);
    auto left = std::make_shared<std::vector<int>>(count);  // 0, 1, 2: JobEnd
    for (std::size_t i = 0; i < count; ++i) {
      (*in_turn)[i] = random() % 5 == 0;
      (*left)[i] = random() % 9 == 0 ? 1 + static_cast<int>(random() % 2) : 0;
    }
    const std::size_t stop_at = random() % (count + 1);  // count: no stop
    const unsigned seed = static_cast<unsigned>(random());
    auto ran_ahead_in_turn = std::make_shared<std::atomic<bool>>(false);
    auto pass_ran_ahead = std::make_shared<std::atomic<bool>>(false);
    Threads threads(1 + random() % 4);
    threads.cpus = 1 + random() % threads.workers;
    const bool pass_helps = threads.workers <= threads.cpus;
    const std::thread::id pass = std::this_thread::get_id();
    {
      Pipeline<Result, Context> ahead(
          count, threads,
          [=](std::size_t i, Context&, Result* result, bool ahead_of_pass) {
            if (ahead_of_pass && (*in_turn)[i]) ran_ahead_in_turn->store(true);
            if (ahead_of_pass && std::this_thread::get_id() == pass) {
              pass_ran_ahead->store(true);
            }
            std::minstd_rand pause(seed + static_cast<unsigned>(i));
            std::this_thread::sleep_for(
                std::chrono::microseconds(pause() % 200));
            result->on_pass = !ahead_of_pass;
            if (ahead_of_pass && (*left)[i] != 0) {
              result->value = 0;  // half made: must never be handed over
              return (*left)[i] == 1 ? JobEnd::kToThePass
                                     : JobEnd::kOutOfHandles;
            }
            result->value = ValueOf(i);
            return JobEnd::kDone;
          },
          [=](std::size_t i) { return (*in_turn)[i]; });
      const std::size_t workers = threads.workers - (pass_helps ? 1 : 0);
      EXPECT_EQ(ahead.Workers(), std::min(workers, count));
      for (std::size_t i = 0; i < stop_at; ++i) {
        const Result* result = ahead.Take(i);
        ASSERT_NE(result, nullptr);
        ASSERT_EQ(result->value, ValueOf(i)) << "round " << round << ", " << i;
        // Where the pass hashes too, the first job is its own as well.
        if ((*in_turn)[i] || (i == 0 && pass_helps && threads.workers > 1)) {
          ASSERT_TRUE(result->on_pass) << i;
        }
      }
    }
    EXPECT_FALSE(ran_ahead_in_turn->load()) << "round " << round;
    if (!pass_helps) {
      EXPECT_FALSE(pass_ran_ahead->load()) << "round " << round;
    }
  }
}

// No thread can be started (no memory for a stack, a limit on processes),
// or only the first: the pass hashes what no worker takes, and nothing
// aborts.
TEST(PipelineTest, WorkersThatCannotStartLeaveTheWorkToThePass) {
  for (int can_start : {0, 1}) {
    auto started = std::make_shared<int>(0);
    Threads threads = Threads::Workers(4);
    threads.start = [=](std::function<void()> body, std::thread* thread) {
      if (*started == can_start) return false;
      ++*started;
      return pipeline::StartThread(std::move(body), thread);
    };
    Pipeline<Result, Context> ahead(
        50, threads,
        [](std::size_t i, Context&, Result* result, bool ahead_of_pass) {
          result->value = ValueOf(i);
          result->on_pass = !ahead_of_pass;
          return JobEnd::kDone;
        },
        nullptr);
    EXPECT_EQ(ahead.Workers(), static_cast<unsigned>(can_start));
    for (std::size_t i = 0; i < 50; ++i) {
      EXPECT_EQ(ahead.Take(i)->value, ValueOf(i));
    }
  }
}

// A worker stuck in a read that never returns while the pass waits for
// its result: a stop from another thread (a cancel) ends the wait at once,
// Take gives nothing, and the end leaves that worker to the kernel; when
// the read lets go at last, the worker finds its state still there.
TEST(PipelineTest, AStopEndsThePassWaitAndNeverWaitsForAStuckWorker) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto stuck = std::make_shared<std::atomic<std::size_t>>(0);  // 0: none yet
  auto gone = std::make_shared<std::atomic<bool>>(false);
  std::chrono::steady_clock::time_point stopped;
  const std::thread::id pass = std::this_thread::get_id();
  {
    Pipeline<Result, Context> ahead(
        20, Threads(3),
        [=](std::size_t i, Context& context, Result* result,
            bool ahead_of_pass) {
          // The pass hashes ahead too while it waits: the first job past
          // the first that a worker runs is the one that sticks.
          // The pass goes on only once a worker is stuck: were the workers
          // set aside long enough, it would run every job itself and none
          // would ever stick.
          const bool on_pass = std::this_thread::get_id() == pass;
          while (i > 0 && ahead_of_pass && on_pass && stuck->load() == 0) {
            std::this_thread::yield();
          }
          std::size_t none = 0;
          if (i > 0 && ahead_of_pass && !on_pass &&
              stuck->compare_exchange_strong(none, i)) {
            const common::BlockingCall call(context);
            while (!release->load()) {
              std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            result->value = 0;
            gone->store(true);
            return context.Stopped() ? JobEnd::kToThePass : JobEnd::kDone;
          }
          result->value = ValueOf(i);
          return JobEnd::kDone;
        },
        nullptr);
    EXPECT_EQ(ahead.Take(0)->value, ValueOf(0));
    while (stuck->load() == 0) std::this_thread::yield();
    for (std::size_t i = 1; i < stuck->load(); ++i) {
      EXPECT_EQ(ahead.Take(i)->value, ValueOf(i));
    }
    std::thread cancel([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      stopped = std::chrono::steady_clock::now();
      ahead.Stop();
    });
    EXPECT_EQ(ahead.Take(stuck->load()), nullptr);
    EXPECT_EQ(ahead.Take(stuck->load() + 1), nullptr)
        << "no job after the stop";
    cancel.join();
    ahead.End();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped,
              std::chrono::seconds(1));
  }
  release->store(true);
  while (!gone->load())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The window: claims reach no further than the window past the pass, wait
// until a whole claim has room, and grow only while jobs are short.
TEST(PipelineTest, ClaimsStayInsideTheWindow) {
  const pipeline::ClaimWindow none(0);
  EXPECT_EQ(none.Size(), 1u);
  const pipeline::ClaimWindow two(2);
  EXPECT_EQ(two.Size(), 2048u);
  EXPECT_EQ(two.RoomStep(), 1024u);
  EXPECT_TRUE(two.HasRoom(0, 0, 10000));
  EXPECT_TRUE(two.HasRoom(1024, 0, 10000));
  EXPECT_FALSE(two.HasRoom(1025, 0, 10000)) << "no room for a whole claim";
  EXPECT_TRUE(two.HasRoom(1995, 0, 2000)) << "what is left fits";
  EXPECT_TRUE(two.HasRoom(10000, 0, 10000)) << "nothing left: to leave";
  EXPECT_EQ(two.ClaimEnd(10, 32, 0, 10000), 42u);
  EXPECT_EQ(two.ClaimEnd(2040, 32, 0, 10000), 2048u) << "the window's end";
  EXPECT_EQ(two.ClaimEnd(9990, 32, 9900, 10000), 10000u) << "the count's end";
  EXPECT_EQ(pipeline::ClaimWindow::NextBatch(1, true), 2u);
  EXPECT_EQ(pipeline::ClaimWindow::NextBatch(32, true), 32u);
  EXPECT_EQ(pipeline::ClaimWindow::NextBatch(16, false), 1u);
}

// The crew lets go: a member that ends is joined, one inside a blocking
// call past the patience is left, one busy outside such a call is waited
// for, and a member that cannot start is not counted.
TEST(PipelineTest, TheCrewJoinsWhatEndsAndLeavesWhatIsStuck) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto busy_done = std::make_shared<std::atomic<bool>>(false);
  auto blocked = std::make_shared<std::atomic<bool>>(true);
  auto free = std::make_shared<std::atomic<bool>>(false);
  pipeline::Crew crew;
  ASSERT_TRUE(crew.Start(
      pipeline::StartThread, [] {}, free));
  ASSERT_TRUE(crew.Start(
      pipeline::StartThread,
      [release] {
        while (!release->load())
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      blocked));
  EXPECT_FALSE(crew.Start(
      [](std::function<void()>, std::thread*) { return false; }, [] {}, free));
  ASSERT_TRUE(crew.Start(
      pipeline::StartThread,
      [busy_done] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        busy_done->store(true);
      },
      free));
  EXPECT_EQ(crew.Size(), 3u);
  const auto began = std::chrono::steady_clock::now();
  crew.LetGo(std::chrono::milliseconds(100));
  EXPECT_TRUE(busy_done->load()) << "a member outside a blocking call";
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
  EXPECT_EQ(crew.Size(), 0u);
  release->store(true);
}

}  // namespace
