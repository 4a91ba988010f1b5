// The process-wide lock that serialises table accesses: the window's thread
// and the delivery thread never interleave two store operations. Every store
// operation takes it; a caller that needs several operations to run as one
// (read, then remove) holds it across them. The mutex is recursive, so
// holding it around store operations is safe. Functions that expect it held
// say AD_REQUIRES(StoreLock()), which the clang build checks.
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

}  // namespace autodeliver
