#include "platform/lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(PlatformLock, OnePermitSerialisesTwoThreads) {
  PlatformLock* lock = lock_create(0, 2000000000);
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(lock_release(lock));  // one permit, as the connection keeps it

  lock_take(lock);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    lock_take(lock);
    entered = true;
    lock_release(lock);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load()) << "a second taker must wait for the release";
  lock_release(lock);
  other.join();
  EXPECT_TRUE(entered.load());
  lock_close(lock);
}

TEST(PlatformLock, RefusesToPassItsMaximumAndBadLimits) {
  PlatformLock* lock = lock_create(1, 1);
  ASSERT_NE(lock, nullptr);
  EXPECT_FALSE(lock_release(lock));
  lock_take(lock);
  EXPECT_TRUE(lock_release(lock));
  lock_close(lock);

  EXPECT_EQ(lock_create(2, 1), nullptr);
  EXPECT_EQ(lock_create(-1, 5), nullptr);
}
