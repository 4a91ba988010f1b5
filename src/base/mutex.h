// The mutex and lock types of the core: std::mutex and
// std::recursive_mutex with the thread-safety attributes of
// thread_annotations.h, so that the clang build checks that a field marked
// AD_GUARDED_BY(m) is touched only while m is held.
//
//   Mutex mutex_;
//   int count_ AD_GUARDED_BY(mutex_) = 0;
//   { MutexLock lock(mutex_); ++count_; }
//
// A wait on a condition variable takes a MutexLock (std::condition_variable_any
// unlocks and relocks it); the waited-for test reads guarded fields, so it
// is written as a loop around Wait in the holding function, not as a lambda.
//
// Thread safety: these are the locks.
#pragma once

#include <condition_variable>
#include <mutex>

#include "base/thread_annotations.h"

namespace autodeliver {

class AD_CAPABILITY("mutex") Mutex {
 public:
  void lock() AD_ACQUIRE() { m_.lock(); }
  void unlock() AD_RELEASE() { m_.unlock(); }
  bool try_lock() AD_TRY_ACQUIRE(true) { return m_.try_lock(); }

 private:
  std::mutex m_;
};

// Taken again by the thread that holds it without blocking.
class AD_CAPABILITY("mutex") RecursiveMutex {
 public:
  void lock() AD_ACQUIRE() { m_.lock(); }
  void unlock() AD_RELEASE() { m_.unlock(); }
  bool try_lock() AD_TRY_ACQUIRE(true) { return m_.try_lock(); }

 private:
  std::recursive_mutex m_;
};

// Holds a Mutex or RecursiveMutex from construction to destruction; lock()
// and unlock() let a condition variable release it while it waits.
template <typename M>
class AD_SCOPED_CAPABILITY BasicMutexLock {
 public:
  explicit BasicMutexLock(M& m) AD_ACQUIRE(m) : m_(m) { m_.lock(); }
  ~BasicMutexLock() AD_RELEASE() {
    if (held_) m_.unlock();
  }
  BasicMutexLock(const BasicMutexLock&) = delete;
  BasicMutexLock& operator=(const BasicMutexLock&) = delete;

  void lock() AD_ACQUIRE() {
    m_.lock();
    held_ = true;
  }
  void unlock() AD_RELEASE() {
    m_.unlock();
    held_ = false;
  }

 private:
  M& m_;
  bool held_ = true;
};

using MutexLock = BasicMutexLock<Mutex>;
using RecursiveMutexLock = BasicMutexLock<RecursiveMutex>;

// A condition variable for a Mutex held by a MutexLock.
using CondVar = std::condition_variable_any;

}  // namespace autodeliver
