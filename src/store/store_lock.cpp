#include "store/store_lock.h"

namespace autodeliver {

std::recursive_mutex& StoreLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace autodeliver
