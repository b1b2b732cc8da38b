// The one-shot timer of the platform: it fires, and a stop ends any wait at
// once, however long the timer was armed for.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include "platform/timer.h"

namespace {

using platform::OneShotTimer;
using WaitResult = platform::OneShotTimer::WaitResult;

constexpr std::uint64_t kOneMs = 10000;  // in units of 100 ns
constexpr std::uint64_t kOneHour = 3600ull * 1000 * kOneMs;

std::unique_ptr<OneShotTimer> makeTimer() {
  unsigned long error = 0;
  std::unique_ptr<OneShotTimer> timer = platform::createOneShotTimer(&error);
  EXPECT_NE(nullptr, timer) << "error " << error;
  return timer;
}

// Waits on another thread, which the test stops; ends the program when the
// wait does not end in time, since the waiting thread cannot be abandoned.
WaitResult waitStoppedFromElsewhere(OneShotTimer* timer) {
  auto result = std::async(std::launch::async, [timer] { return timer->wait(); });
  timer->stop();
  if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    std::fputs("FATAL: a stopped timer wait did not end\n", stderr);
    std::abort();
  }
  return result.get();
}

TEST(TimerTest, FiresOnceArmed) {
  std::unique_ptr<OneShotTimer> timer = makeTimer();
  ASSERT_NE(nullptr, timer);
  for (int round = 0; round < 3; ++round) {  // re-arming after a shot works
    ASSERT_TRUE(timer->arm(kOneMs));
    EXPECT_EQ(WaitResult::kFired, timer->wait());
  }
}

// A long or endless arming, and a fired timer armed again for long, must all
// leave the wait to the stop: a fired timer that stayed signalled, or a due
// time that wrapped to the past, would fire instead.
TEST(TimerTest, StopEndsALongWait) {
  const std::uint64_t durations[] = {kOneHour, 42949672950000ull, UINT64_MAX};
  for (const std::uint64_t duration : durations) {
    std::unique_ptr<OneShotTimer> timer = makeTimer();
    ASSERT_NE(nullptr, timer);
    ASSERT_TRUE(timer->arm(kOneMs));
    ASSERT_EQ(WaitResult::kFired, timer->wait());
    ASSERT_TRUE(timer->arm(duration));
    EXPECT_EQ(WaitResult::kStopped, waitStoppedFromElsewhere(timer.get())) << duration;
  }
}

TEST(TimerTest, StopEndsTheWaitOfATimerNeverArmed) {
  std::unique_ptr<OneShotTimer> timer = makeTimer();
  ASSERT_NE(nullptr, timer);
  EXPECT_EQ(WaitResult::kStopped, waitStoppedFromElsewhere(timer.get()));
}

TEST(TimerTest, StopBeforeTheWaitHoldsForEveryLaterWait) {
  std::unique_ptr<OneShotTimer> timer = makeTimer();
  ASSERT_NE(nullptr, timer);
  timer->stop();
  ASSERT_TRUE(timer->arm(kOneHour));
  EXPECT_EQ(WaitResult::kStopped, timer->wait());
  ASSERT_TRUE(timer->arm(kOneHour));
  EXPECT_EQ(WaitResult::kStopped, timer->wait());
}

}  // namespace
