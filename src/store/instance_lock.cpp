#include "store/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace autodeliver {

namespace {

std::string LockPath(const std::string& folder) { return folder + "/" + kInstanceLockFile; }

}  // namespace

InstanceLock::Result InstanceLock::TryAcquire(const std::string& folder) {
  Release();
  error_.clear();
  const std::string path = LockPath(folder);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error_ = path + ": " + std::strerror(errno);
    return Result::kFailed;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) return Result::kHeldElsewhere;
    error_ = path + ": " + std::strerror(e);
    return Result::kFailed;
  }
  fd_ = fd;
  // The process id is only for messages; failing to write it changes
  // nothing about the lock.
  const std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
  if (::ftruncate(fd_, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd_, pid.data(), pid.size(), 0);
  }
  return Result::kAcquired;
}

void InstanceLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor drops the lock
  fd_ = -1;
}

long InstanceLock::HolderPid(const std::string& folder) {
  int fd = ::open(LockPath(folder).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char buf[32] = {};
  ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  ::close(fd);
  if (n <= 0) return 0;
  char* end = nullptr;
  long pid = std::strtol(buf, &end, 10);
  return end != buf && pid > 0 ? pid : 0;
}

}  // namespace autodeliver
