// The pipeline with the suite's own jobs: whatever the schedule, the pass
// sees what one pass computes, and a stop never waits for a stuck worker.
#include "pipeline/pipeline.h"

#include <gtest/gtest.h>

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

struct Context : pipeline::JobContext {};

struct Result {
  std::size_t value = 0;
  bool on_pass = false;
};

std::size_t ValueOf(std::size_t index) { return index * 7919 + 13; }

// Rounds over random folders: jobs that sleep a random short time, in-turn
// jobs anywhere in a claim, a stop (the pass's failure) anywhere, and
// workers that leave jobs to the pass or run out of descriptors.
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
    Context pass;
    {
      Pipeline<Result, Context> ahead(
          count, Threads(1 + random() % 4),
          [=](std::size_t i, Context&, Result* result,
              const std::atomic<bool>* stop) {
            if (stop != nullptr && (*in_turn)[i])
              ran_ahead_in_turn->store(true);
            std::minstd_rand pause(seed + static_cast<unsigned>(i));
            std::this_thread::sleep_for(
                std::chrono::microseconds(pause() % 200));
            result->on_pass = stop == nullptr;
            if (stop != nullptr && (*left)[i] != 0) {
              result->value = 0;  // half made: must never be handed over
              return (*left)[i] == 1 ? JobEnd::kToThePass
                                     : JobEnd::kOutOfHandles;
            }
            result->value = ValueOf(i);
            return JobEnd::kDone;
          },
          [=](std::size_t i) { return (*in_turn)[i]; }, pass);
      for (std::size_t i = 0; i < stop_at; ++i) {
        const Result& result = ahead.Take(i);
        ASSERT_EQ(result.value, ValueOf(i)) << "round " << round << ", " << i;
        if ((*in_turn)[i]) {
          ASSERT_TRUE(result.on_pass) << i;
        }
      }
    }
    EXPECT_FALSE(ran_ahead_in_turn->load()) << "round " << round;
  }
}

// No thread can be started (no memory for a stack, a limit on processes),
// or only the first: the pass hashes what no worker takes, and nothing
// aborts.
TEST(PipelineTest, WorkersThatCannotStartLeaveTheWorkToThePass) {
  for (int can_start : {0, 1}) {
    auto started = std::make_shared<int>(0);
    Threads threads(4);
    threads.start = [=](std::function<void()> body, std::thread* thread) {
      if (*started == can_start) return false;
      ++*started;
      return pipeline::StartThread(std::move(body), thread);
    };
    Context pass;
    Pipeline<Result, Context> ahead(
        50, threads,
        [](std::size_t i, Context&, Result* result,
           const std::atomic<bool>* stop) {
          result->value = ValueOf(i);
          result->on_pass = stop == nullptr;
          return JobEnd::kDone;
        },
        nullptr, pass);
    EXPECT_EQ(ahead.Workers(), static_cast<unsigned>(can_start));
    for (std::size_t i = 0; i < 50; ++i) {
      EXPECT_EQ(ahead.Take(i).value, ValueOf(i));
    }
  }
}

// A worker stuck in a read that never returns: the pass takes what it
// wants and ends at once, leaving that worker to the kernel; when the read
// lets go at last, the worker finds its state still there.
TEST(PipelineTest, AStopNeverWaitsForAWorkerStuckInARead) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto entered = std::make_shared<std::atomic<bool>>(false);
  auto gone = std::make_shared<std::atomic<bool>>(false);
  Context pass;
  std::chrono::steady_clock::time_point stopped;
  {
    Pipeline<Result, Context> ahead(
        20, Threads(2),
        [=](std::size_t i, Context& context, Result* result,
            const std::atomic<bool>* stop) {
          if (i == 1 && stop != nullptr) {
            const pipeline::BlockingCall call(context);
            entered->store(true);
            while (!release->load()) {
              std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            result->value = 0;
            gone->store(true);
            return JobEnd::kToThePass;
          }
          result->value = ValueOf(i);
          return JobEnd::kDone;
        },
        nullptr, pass);
    EXPECT_EQ(ahead.Take(0).value, ValueOf(0));
    while (!entered->load()) std::this_thread::yield();
    stopped = std::chrono::steady_clock::now();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - stopped,
            std::chrono::seconds(5));
  release->store(true);
  while (!gone->load())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace
