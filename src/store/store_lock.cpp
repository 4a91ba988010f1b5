#include "store/store_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace autodeliver {

// The folder lock's fields are guarded by the store lock, which lock_ holds
// from the constructor's body to the destructor's end; the analysis does not
// follow a lock held by a member.
SharedStoreGuard::SharedStoreGuard(ShopContext& shop) AD_NO_THREAD_SAFETY_ANALYSIS : shop_(shop),
                                                                                     lock_(shop.StoreLock()) {
  if (shop_.sharedDepth_++ > 0) return;
  const std::string path = shop_.DataDir() + "/" + kStoreLockFile;
  FileIo& io = shop_.StoreFileIo() ? *shop_.StoreFileIo() : DefaultFileIo();
  const int fd = io.Open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  int rc;
  while ((rc = io.LockWhole(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    ::close(fd);
    return;
  }
  shop_.sharedFd_ = fd;
}

SharedStoreGuard::~SharedStoreGuard() AD_NO_THREAD_SAFETY_ANALYSIS {
  if (--shop_.sharedDepth_ > 0 || shop_.sharedFd_ < 0) return;
  ::close(shop_.sharedFd_);  // releases the lock
  shop_.sharedFd_ = -1;
}

}  // namespace autodeliver
