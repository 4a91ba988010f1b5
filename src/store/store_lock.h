// The process-wide lock that serialises table accesses: the window's thread
// and the delivery thread never interleave two store operations. Every store
// operation takes it; a caller that needs several operations to run as one
// (read, then remove) holds it across them. The mutex is recursive, so
// holding it around store operations is safe.
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

}  // namespace autodeliver
