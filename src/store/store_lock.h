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
// only, as before. The file stays open in the context between two guards.
//
// Every writer of the tables takes this lock first (a table access for
// writing, the card import, the delivery's record), so the lock file also
// carries the folder's change stamp: a counter (8 bytes, little-endian, at
// its start) that a holder raises when it takes the lock to write, before
// its first write. A holder that finds the stamp it left at the end of its
// own last hold knows that no one wrote the tables in between, and one that
// died half-way through its writes has raised it already. The lock is taken
// in turn: a process that finds it held queues up (a byte-range lock in the
// file, with a mark beside the stamp), and a holder that finds the mark
// lets the lock go to it first, so a quick succession of holds never keeps
// another process (an import from cron) waiting for ever.
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
// lifetime; waits for another process that holds the folder's lock. With
// `write`, the holder is about to write the tables: the change stamp is
// raised (once per outermost guard), and status() tells when that failed
// (the holder must then write nothing).
class AD_SCOPED_CAPABILITY SharedStoreGuard {
 public:
  explicit SharedStoreGuard(ShopContext& shop, bool write = false) AD_ACQUIRE(shop.StoreLock());
  ~SharedStoreGuard() AD_RELEASE();
  SharedStoreGuard(const SharedStoreGuard&) = delete;
  SharedStoreGuard& operator=(const SharedStoreGuard&) = delete;

  const Status& status() const { return status_; }

 private:
  ShopContext& shop_;
  RecursiveMutexLock lock_;
  Status status_;
};

}  // namespace autodeliver
