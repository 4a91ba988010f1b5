#include "base/mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace autodeliver {
namespace {

// Two threads add to one guarded counter: every addition counts (and the
// TSan build sees no race).
TEST(MutexTest, GuardedCounterCountsEveryAddition) {
  struct Counter {
    Mutex mutex;
    int value AD_GUARDED_BY(mutex) = 0;
    void Add() {
      MutexLock lock(mutex);
      ++value;
    }
    int Get() {
      MutexLock lock(mutex);
      return value;
    }
  } counter;
  constexpr int kEach = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) counter.Add();
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter.Get(), 2 * kEach);
}

// A wait gives the mutex up until it is woken, so the other thread can take
// it to set the flag; the lock is held again when the wait returns, and
// released once at the end of its scope.
TEST(MutexTest, WaitReleasesAndRetakesTheLock) {
  struct Flag {
    Mutex mutex;
    CondVar changed;
    bool ready AD_GUARDED_BY(mutex) = false;
  } flag;
  std::thread setter([&] {
    MutexLock lock(flag.mutex);
    flag.ready = true;
    flag.changed.notify_all();
  });
  {
    MutexLock lock(flag.mutex);
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!flag.ready && flag.changed.wait_until(lock, bound) == std::cv_status::no_timeout) {
    }
    EXPECT_TRUE(flag.ready);
  }
  setter.join();
  // Released exactly once: the mutex is free again.
  bool free = false;
  if (flag.mutex.try_lock()) {
    free = true;
    flag.mutex.unlock();
  }
  EXPECT_TRUE(free);
}

}  // namespace
}  // namespace autodeliver
