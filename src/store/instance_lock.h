// The guard that lets one copy of the program at a time work on a data
// folder: an exclusive lock (flock) on the file "autodeliver.lock" in the
// folder. The kernel drops the lock when the holder's last descriptor of the
// file closes, so a copy that crashes or is killed never leaves the folder
// locked. The descriptor is close-on-exec: programs the holder starts (the
// IM client, a browser) never inherit the lock. The holder writes its
// process id into the file, for the message a later start shows; the file
// itself stays in the folder.
//
// Thread safety: one object per thread; distinct objects may be used from
// distinct threads. Two objects of one process on the same folder exclude
// each other like two processes do.
#pragma once

#include <string>

namespace autodeliver {

// The lock file's name inside the data folder.
inline constexpr char kInstanceLockFile[] = "autodeliver.lock";

class InstanceLock {
 public:
  enum class Result {
    kAcquired,       // this object holds the folder now
    kHeldElsewhere,  // another holder has it
    kFailed,         // the lock file cannot be opened or locked (see error())
  };

  InstanceLock() = default;
  ~InstanceLock() { Release(); }
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Tries, without waiting, to lock `folder` (which must exist); creates
  // the lock file (mode 0600) when missing. An object that holds a folder
  // already releases it first.
  Result TryAcquire(const std::string& folder);
  // Drops the lock (no-op when not held).
  void Release();
  bool held() const { return fd_ >= 0; }
  // What failed in the last kFailed.
  const std::string& error() const { return error_; }

  // The process id the holder of `folder` wrote, 0 when none can be read.
  static long HolderPid(const std::string& folder);

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace autodeliver
