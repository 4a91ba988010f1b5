// The guards of a shop's store lock (ShopContext::StoreLock(),
// shop_context.h), which serialises the table accesses of the threads that
// share the context.
//
// SharedStoreGuard adds the same exclusion across processes, for the steps
// whose reads and writes must not interleave with another program working
// on the same data folder (the table tool run from cron next to the
// window): a card import's duplicate check and its append, and the
// delivery's move of cards from the stock to the sent cards. It holds the
// store lock and an advisory lock (flock) on "store.lock" in the data
// folder, taken by the outermost guard of the context and dropped with it;
// the kernel drops it when a holder dies. When the lock file cannot be
// opened (no data folder, a read-only one) the guard holds the store lock
// only, as before.
//
// Thread safety: that is its purpose.
#pragma once

#include "base/mutex.h"
#include "store/shop_context.h"

namespace autodeliver {

// Holds the shop's store lock for its lifetime.
class AD_SCOPED_CAPABILITY StoreGuard {
 public:
  explicit StoreGuard(ShopContext& shop) AD_ACQUIRE(shop.StoreLock()) : lock_(shop.StoreLock()) {}
  ~StoreGuard() AD_RELEASE() {}

 private:
  RecursiveMutexLock lock_;
};

// The lock file's name inside the data folder.
inline constexpr char kStoreLockFile[] = "store.lock";

// Holds the shop's store lock and its data folder's store lock for its
// lifetime; waits for another process that holds the folder's lock.
class AD_SCOPED_CAPABILITY SharedStoreGuard {
 public:
  explicit SharedStoreGuard(ShopContext& shop) AD_ACQUIRE(shop.StoreLock());
  ~SharedStoreGuard() AD_RELEASE();
  SharedStoreGuard(const SharedStoreGuard&) = delete;
  SharedStoreGuard& operator=(const SharedStoreGuard&) = delete;

 private:
  ShopContext& shop_;
  RecursiveMutexLock lock_;
};

}  // namespace autodeliver
