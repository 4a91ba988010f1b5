// The process-wide lock that serialises table accesses: the window's thread
// and the delivery thread never interleave two store operations. Every store
// operation takes it; a caller that needs several operations to run as one
// (read, then remove) holds it across them. The mutex is recursive, so
// holding it around store operations is safe.
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

#include <mutex>

namespace autodeliver {

std::recursive_mutex& StoreLock();

// Holds StoreLock() for its lifetime.
class StoreGuard {
 public:
  StoreGuard() : lock_(StoreLock()) {}

 private:
  std::lock_guard<std::recursive_mutex> lock_;
};

// The lock file's name inside the data folder.
inline constexpr char kStoreLockFile[] = "store.lock";

// Holds StoreLock() and the data folder's store lock for its lifetime; waits
// for another process that holds the folder's lock.
class SharedStoreGuard {
 public:
  SharedStoreGuard();
  ~SharedStoreGuard();
  SharedStoreGuard(const SharedStoreGuard&) = delete;
  SharedStoreGuard& operator=(const SharedStoreGuard&) = delete;

 private:
  std::lock_guard<std::recursive_mutex> lock_;
};

}  // namespace autodeliver
