#include "store/store_lock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "io/coding.h"

namespace autodeliver {

namespace {

// Forks of this process so far: a lock file kept open across a fork is
// shared with the child (one open file description, so one flock), and
// each side must open its own.
std::atomic<std::uint64_t> g_forks{0};

void CountFork() { g_forks.fetch_add(1, std::memory_order_relaxed); }

std::uint64_t Forks() {
  static std::once_flag registered;
  std::call_once(registered, [] { ::pthread_atfork(nullptr, nullptr, CountFork); });
  return g_forks.load(std::memory_order_relaxed);
}

// The lock file: the change stamp in bytes 0-7, a mark of a process waiting
// in line in bytes 8-15, and byte 16 locked (a byte-range lock) by the
// process first in line.
constexpr off_t kWaitingAt = 8;
constexpr off_t kLineAt = 16;

int Flock(int fd, int operation) {
  int rc;
  while ((rc = ::flock(fd, operation)) != 0 && errno == EINTR) {
  }
  return rc;
}

bool SetLine(int fd, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLineAt;
  fl.l_len = 1;
  int rc;
  while ((rc = ::fcntl(fd, type == F_UNLCK ? F_OFD_SETLK : F_OFD_SETLKW, &fl)) != 0 && errno == EINTR) {
  }
  return rc == 0;
}

void MarkWaiting(int fd, bool waiting) {
  char bytes[8] = {};
  bytes[0] = waiting ? 1 : 0;
  if (::pwrite(fd, bytes, sizeof bytes, kWaitingAt) != static_cast<ssize_t>(sizeof bytes)) {
    // Only a hint: the lock is as exclusive without it.
  }
}

// Takes the flock on `fd` and reads the stamp (nullopt when unreadable).
// A flock is not handed over in turn: a process that takes and drops it in
// quick succession could keep another one waiting for ever. So a process
// that finds it held queues up first (the byte-range lock of the line,
// taken in turn by the kernel) and marks itself waiting; a holder that
// finds that mark lets the lock go and queues up behind it. Costs nothing
// while no one waits: one flock and the read of the stamp.
bool TakeInTurn(int fd, std::optional<std::uint64_t>* stamp) {
  char bytes[16] = {};
  auto read = [&] {
    std::memset(bytes, 0, sizeof bytes);
    const ssize_t n = ::pread(fd, bytes, sizeof bytes, 0);
    // A file shorter than the counter (a new one) stands at 0.
    if (n >= 0)
      *stamp = n >= 8 ? DecodeFixed64(bytes) : 0;
    else
      stamp->reset();
  };
  if (Flock(fd, LOCK_EX | LOCK_NB) == 0) {
    read();
    if (bytes[kWaitingAt] == 0) return true;
    Flock(fd, LOCK_UN);  // someone waits in line: after them
  } else if (errno != EWOULDBLOCK) {
    return false;
  }
  const bool inLine = SetLine(fd, F_WRLCK);
  if (inLine) MarkWaiting(fd, true);
  const bool locked = Flock(fd, LOCK_EX) == 0;
  if (inLine) {
    if (locked) MarkWaiting(fd, false);
    SetLine(fd, F_UNLCK);
  }
  if (locked) read();
  return locked;
}

}  // namespace

// The folder lock's fields are guarded by the store lock, which lock_ holds
// from the constructor's body to the destructor's end; the analysis does not
// follow a lock held by a member.
SharedStoreGuard::SharedStoreGuard(ShopContext& shop, bool write) AD_NO_THREAD_SAFETY_ANALYSIS
    : shop_(shop),
      lock_(shop.StoreLock()) {
  if (shop_.sharedDepth_++ == 0) {
    shop_.stamp_.reset();
    shop_.stampRaised_ = false;
    // The file kept open is used again unless a fork came in between or a
    // user of the context saw the folder go.
    const std::uint64_t forks = Forks();
    if (shop_.sharedFd_ >= 0 && (shop_.sharedForks_ != forks || shop_.reopenLockFile_)) {
      ::close(shop_.sharedFd_);
      shop_.sharedFd_ = -1;
    }
    shop_.reopenLockFile_ = false;
    if (shop_.sharedFd_ < 0) {
      const std::string path = shop_.DataDir() + "/" + kStoreLockFile;
      shop_.sharedFd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      shop_.sharedForks_ = forks;
    }
    if (shop_.sharedFd_ >= 0) {
      shop_.sharedLocked_ = TakeInTurn(shop_.sharedFd_, &shop_.stamp_);
    }
  }
  if (write) status_ = shop_.NoteStoreWrite();
}

SharedStoreGuard::~SharedStoreGuard() AD_NO_THREAD_SAFETY_ANALYSIS {
  if (--shop_.sharedDepth_ > 0) return;
  if (shop_.sharedLocked_) ::flock(shop_.sharedFd_, LOCK_UN);
  shop_.sharedLocked_ = false;
  shop_.stamp_.reset();
}

std::optional<std::uint64_t> ShopContext::StoreStamp() const { return stamp_; }

void ShopContext::ReopenStoreLockFile() { reopenLockFile_ = true; }

Status ShopContext::NoteStoreWrite() {
  if (sharedDepth_ == 0 || !sharedLocked_ || stampRaised_) return Status();
  const std::string path = DataDir() + "/" + kStoreLockFile;
  // A counter that could not be read is not raised from a guess: it is
  // started again from a value no holder has kept.
  const std::uint64_t next = stamp_ ? *stamp_ + 1 : static_cast<std::uint64_t>(::time(nullptr)) << 20;
  char bytes[8];
  EncodeFixed64(bytes, next);
  if (::pwrite(sharedFd_, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
    return Status::FromErrno(path, errno ? errno : EIO);
  stamp_ = next;
  stampRaised_ = true;
  return Status();
}

}  // namespace autodeliver
