// The process-wide lock that serialises table accesses: the window's thread
// and the delivery thread never interleave two store operations. Every store
// operation takes it; a caller that needs several operations to run as one
// (read, then remove) holds it across them. The mutex is recursive, so
// holding it around store operations is safe. Functions that expect it held
// say AD_REQUIRES(StoreLock()), which the clang build checks.
//
// SharedStoreGuard adds the same exclusion across processes, for the steps
// whose reads and writes must not interleave with another program working
// on the same data folder (the table tool run from cron next to the
// window): a card import's duplicate check and its append, and the
// delivery's move of cards from the stock to the sent cards. It holds
// StoreLock() and an advisory lock (flock) on "store.lock" in the data
// folder, taken by the outermost guard of the process and dropped with it;
// the kernel drops it when a holder dies. When the lock file cannot be
// opened (no data folder, a read-only one) the guard holds StoreLock() only,
// as before.
//
// Thread safety: that is its purpose.
#pragma once

#include "base/mutex.h"

namespace autodeliver {

RecursiveMutex& StoreLock();

// Holds StoreLock() for its lifetime.
class AD_SCOPED_CAPABILITY StoreGuard {
 public:
  StoreGuard() AD_ACQUIRE(StoreLock()) : lock_(StoreLock()) {}
  ~StoreGuard() AD_RELEASE() {}

 private:
  RecursiveMutexLock lock_;
};

// The lock file's name inside the data folder.
inline constexpr char kStoreLockFile[] = "store.lock";

// Holds StoreLock() and the data folder's store lock for its lifetime; waits
// for another process that holds the folder's lock.
class AD_SCOPED_CAPABILITY SharedStoreGuard {
 public:
  SharedStoreGuard() AD_ACQUIRE(StoreLock());
  ~SharedStoreGuard() AD_RELEASE();
  SharedStoreGuard(const SharedStoreGuard&) = delete;
  SharedStoreGuard& operator=(const SharedStoreGuard&) = delete;

 private:
  RecursiveMutexLock lock_;
};

}  // namespace autodeliver
