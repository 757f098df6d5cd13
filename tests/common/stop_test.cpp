// The run's one stop: a stop wakes a wait whenever it comes, and each
// callback runs once, on the thread that asks.
#include "common/stop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using std::chrono::hours;

// Far beyond any schedule's wake-up: a wait the stop does not wake fails
// the case then, rather than hang the suite.
constexpr std::chrono::seconds kBound{10};

// A wait as the run's waits are written: its own lock and condition, woken
// by a callback.
struct Wait {
  explicit Wait(common::Stop& stop)
      : wake(stop,
             [this] {
               const std::lock_guard<std::mutex> lock(mutex);
               woken.notify_all();
             }),
        stop_(stop) {}
  // Whether the stop woke it within kBound.
  bool Until() {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop_.Requested()) {
      if (woken.wait_until(lock, deadline) == std::cv_status::timeout) {
        return false;
      }
    }
    return true;
  }
  std::mutex mutex;
  std::condition_variable woken;
  common::StopCallback wake;

 private:
  common::Stop& stop_;
};

TEST(StopTest, AStopBeforeDuringOrAfterAWaitEndsIt) {
  common::Stop before;
  ASSERT_TRUE(before.Request());
  EXPECT_TRUE(before.WaitFor(hours(1)));
  Wait already(before);
  EXPECT_TRUE(already.Until());

  // During: the waits sleep with no deadline they could poll at.
  common::Stop during;
  Wait wait(during);
  std::thread waiter([&] { EXPECT_TRUE(wait.Until()); });
  std::thread own([&] {
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(during.WaitFor(kBound));
    EXPECT_LT(std::chrono::steady_clock::now() - began, kBound);
  });
  during.Request();
  waiter.join();
  own.join();

  // After: a wait begun once the stop was asked for does not wait.
  EXPECT_TRUE(wait.Until());
  EXPECT_TRUE(during.WaitFor(hours(1)));
  EXPECT_FALSE(common::Stop().WaitFor(std::chrono::milliseconds(0)));
}

TEST(StopTest, EachCallbackRunsOnceOnTheAskingThread) {
  common::Stop stop;
  int early = 0;
  int dropped = 0;
  std::thread::id ran_on;
  common::StopCallback first(stop, [&] {
    ++early;
    ran_on = std::this_thread::get_id();
  });
  {
    common::StopCallback gone(stop, [&] { ++dropped; });
  }
  std::thread asker([&] { EXPECT_TRUE(stop.Request()); });
  const std::thread::id asker_id = asker.get_id();
  asker.join();
  EXPECT_FALSE(stop.Request());
  EXPECT_EQ(early, 1);
  EXPECT_EQ(dropped, 0);
  EXPECT_EQ(ran_on, asker_id);

  // Registered after the stop: at once, here.
  int late = 0;
  common::StopCallback after(stop, [&] {
    ++late;
    ran_on = std::this_thread::get_id();
  });
  stop.Request();
  EXPECT_EQ(late, 1);
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(StopTest, ACallbackDiesOnlyOnceItHasRun) {
  common::Stop stop;
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool release = false;
  bool finished = false;
  auto callback = std::make_unique<common::StopCallback>(stop, [&] {
    std::unique_lock<std::mutex> lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    finished = true;
  });
  std::thread asker([&] { stop.Request(); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return entered; });
  }
  std::thread dropper([&] {
    callback.reset();
    const std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(finished);
  });
  {
    const std::lock_guard<std::mutex> lock(mutex);
    release = true;
    changed.notify_all();
  }
  dropper.join();
  asker.join();
  // One that ends itself from inside its callback does not wait for itself.
  common::Stop other;
  std::unique_ptr<common::StopCallback> self;
  self = std::make_unique<common::StopCallback>(other, [&] { self.reset(); });
  other.Request();
  EXPECT_EQ(self, nullptr);
}

}  // namespace
