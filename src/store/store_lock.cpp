#include "store/store_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "store/shop_paths.h"

namespace autodeliver {

namespace {

// The folder lock of the outermost SharedStoreGuard; touched only by the
// thread that holds StoreLock().
int g_depth = 0;
int g_fd = -1;

}  // namespace

RecursiveMutex& StoreLock() {
  static RecursiveMutex lock;
  return lock;
}

SharedStoreGuard::SharedStoreGuard() : lock_(StoreLock()) {
  if (g_depth++ > 0) return;
  const std::string path = DataDir() + "/" + kStoreLockFile;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  int rc;
  while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    ::close(fd);
    return;
  }
  g_fd = fd;
}

SharedStoreGuard::~SharedStoreGuard() {
  if (--g_depth > 0 || g_fd < 0) return;
  ::close(g_fd);  // releases the lock
  g_fd = -1;
}

}  // namespace autodeliver
