#include "tables/table_lock.h"

#include <fcntl.h>

#include <cerrno>
#include <set>
#include <thread>

#include "base/mutex.h"
#include "tables/table_format.h"

namespace autodeliver {

namespace {

// The table files this process holds open.
struct Claims {
  Mutex mutex;
  std::set<std::string> files AD_GUARDED_BY(mutex);
};

Claims& TheClaims() {
  static Claims claims;
  return claims;
}

}  // namespace

bool ClaimTableFile(const std::string& key) {
  Claims& claims = TheClaims();
  MutexLock lock(claims.mutex);
  return claims.files.insert(key).second;
}

void UnclaimTableFile(const std::string& key) {
  Claims& claims = TheClaims();
  MutexLock lock(claims.mutex);
  claims.files.erase(key);
}

void TableLock::Attach(int fd) {
  fd_ = fd;
  depth_ = 0;
  exclusive_ = false;
  locked_ = false;
}

bool TableLock::SetType(short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = table_format::kRecordCountOffset;
  fl.l_len = 8;
  auto deadline = std::chrono::steady_clock::now() + wait_;
  for (;;) {
    if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EACCES) return false;
    if (type == F_UNLCK || std::chrono::steady_clock::now() >= deadline) return false;
    // Another process holds the table; retry until the bound.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool TableLock::Set(bool write) {
  if (!SetType(write ? F_WRLCK : F_RDLCK)) return false;
  exclusive_ = write;
  locked_ = true;
  return true;
}

void TableLock::Unset() {
  if (locked_) SetType(F_UNLCK);
  exclusive_ = false;
  locked_ = false;
}

void TableLock::Release() {
  if (depth_ > 0) Unset();
  depth_ = 0;
}

}  // namespace autodeliver
