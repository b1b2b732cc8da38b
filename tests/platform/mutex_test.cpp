#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/mutex.h"

namespace {

TEST(TimedMutexTest, OwnerTakesItAgainAndMustReleaseAsOften) {
  auto mutex = platform::createTimedMutex();
  ASSERT_NE(nullptr, mutex);
  ASSERT_TRUE(mutex->lock(2000));
  ASSERT_TRUE(mutex->lock(2000));
  EXPECT_TRUE(mutex->unlock());
  bool otherObtained = true;
  std::thread([&] { otherObtained = mutex->lock(50); }).join();
  EXPECT_FALSE(otherObtained) << "one release of two holds must keep the mutex";
  EXPECT_TRUE(mutex->unlock());
  std::thread([&] {
    otherObtained = mutex->lock(2000);
    mutex->unlock();
  }).join();
  EXPECT_TRUE(otherObtained);
}

TEST(TimedMutexTest, ReleaseByANonOwnerFailsHarmlessly) {
  auto mutex = platform::createTimedMutex();
  ASSERT_NE(nullptr, mutex);
  EXPECT_FALSE(mutex->unlock()) << "nobody holds it";
  ASSERT_TRUE(mutex->lock(2000));
  bool released = true;
  std::thread([&] { released = mutex->unlock(); }).join();
  EXPECT_FALSE(released);
  EXPECT_TRUE(mutex->unlock());
}

TEST(TimedMutexTest, WaitEndsWhenTheHolderReleases) {
  auto mutex = platform::createTimedMutex();
  ASSERT_NE(nullptr, mutex);
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    mutex->lock(2000);
    held = true;
    while (!release)
      std::this_thread::yield();
    mutex->unlock();
  });
  while (!held)
    std::this_thread::yield();
  std::thread waiter([&] {
    EXPECT_TRUE(mutex->lock(60000));
    mutex->unlock();
  });
  release = true;
  waiter.join();
  holder.join();
}

TEST(TimedMutexTest, HoldReleasesEvenAfterAFailedWait) {
  auto mutex = platform::createTimedMutex();
  ASSERT_NE(nullptr, mutex);
  {
    platform::MutexHold hold(mutex.get(), 2000);
    EXPECT_TRUE(hold.obtained());
  }
  {
    platform::MutexHold none(nullptr, 2000);
    EXPECT_FALSE(none.obtained());
  }
  EXPECT_FALSE(mutex->unlock()) << "the scope must have released its hold";
}

}  // namespace
