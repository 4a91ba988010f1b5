#include "store/store_lock.h"

namespace autodeliver {

RecursiveMutex& StoreLock() {
  static RecursiveMutex lock;
  return lock;
}

}  // namespace autodeliver
