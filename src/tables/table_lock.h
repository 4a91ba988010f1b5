// TableLock: the byte-range lock on a table file's record count through
// which processes sharing a table take turns: shared for reading, exclusive
// for writing. It is an open-file-description lock, so two RecordTables of
// one process exclude each other like two processes do, and the kernel lets
// it go when the file is closed or the process dies. A lock held elsewhere
// is retried every 2 ms until the wait (default 3 s) runs out.
//
// Accesses nest: an inner access joins the lock held, and a write inside a
// read upgrades the lock to exclusive.
//
// Within a process, a table file is open in at most one RecordTable at a
// time: Open claims the file, Close gives it up.
//
// Thread safety: a TableLock is used by the one thread that uses its
// RecordTable; the claims are guarded by a mutex of their own.
#pragma once

#include <chrono>
#include <string>

namespace autodeliver {

// Claims the table file named by `key` (its real path with ASCII letters
// lowered) for this process; false when it is claimed already.
bool ClaimTableFile(const std::string& key);
void UnclaimTableFile(const std::string& key);

class TableLock {
 public:
  // The table file whose record count is locked; nothing is held.
  void Attach(int fd);
  void SetWait(std::chrono::milliseconds wait) { wait_ = wait; }

  // Begins an access: takes the lock, or joins the one held (upgrading it
  // for a write). *first tells whether the access was begun afresh. With
  // `lockReads` false a reading access takes no lock at all (its caller's
  // own lock keeps every writer out), and a write inside it takes the
  // exclusive one.
  bool Enter(bool write, bool* first, bool lockReads = true) {
    *first = depth_ == 0;
    const bool take = write ? !exclusive_ : depth_ == 0 && lockReads;
    if (take && !Set(write || exclusive_)) return false;
    ++depth_;
    return true;
  }
  // Ends an access; true when that let the lock go.
  bool Leave() {
    if (depth_ == 0 || --depth_ > 0) return false;
    Unset();
    return true;
  }
  // Lets the lock go, whatever the depth of accesses.
  void Release();

  bool held() const { return depth_ > 0; }
  int depth() const { return depth_; }
  bool exclusive() const { return exclusive_; }

  // Sets the lock to exclusive (`write`) or shared without changing the
  // depth: for work inside an access that needs more, and for Open.
  bool Set(bool write);
  void Unset();

 private:
  bool SetType(short type);

  int fd_ = -1;
  std::chrono::milliseconds wait_{3000};
  int depth_ = 0;
  bool exclusive_ = false;
  bool locked_ = false;  // a lock of either kind is set on the file
};

}  // namespace autodeliver
