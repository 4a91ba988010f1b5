// FileIo: the file-system calls through which the store reads and changes
// its files (the record tables, their companion block files, the purge
// journal, the store lock file, the program's line files and the Jet4 card
// database), behind one interface, so that tests can make a write fail
// part-way, fill the disk, hand back short reads, refuse an open, find a
// lock held or a folder that cannot be flushed, without resource limits or
// special file systems.
//
// Each method has the contract of the POSIX call it names. DefaultFileIo()
// makes the real calls; a test derives from FileIo, overrides what it wants
// to break and passes the rest on to the base class.
//
// ReadFully and WriteFully loop over short transfers and EINTR, and fail on
// an error or (for reads) the end of the file, with the cause as a Status
// (status.h) taken from the call that failed.
//
// Thread safety: the default implementation is stateless and may be shared
// by any number of threads; a test's implementation is used by the one
// thread that handed it to the store.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "io/status.h"

namespace autodeliver {

class FileIo {
 public:
  virtual ~FileIo() = default;

  // As open(2) (the caller gives O_CLOEXEC) and close(2).
  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int Close(int fd);
  // As unlink(2).
  virtual int Remove(const char* path);
  // As fcntl(2) with a record-lock command (F_OFD_SETLK, F_SETLK...) and
  // flock(2).
  virtual int LockRange(int fd, int command, struct flock* lock);
  virtual int LockWhole(int fd, int operation);
  // Flushes the entries of the folder `folder` (files made, renamed or
  // removed there) to the disk: open(2) of the folder and fsync(2); 0, or
  // -1 with errno.
  virtual int SyncFolder(const char* folder);

  // As pread(2) and pwrite(2).
  virtual ssize_t ReadAt(int fd, void* buf, std::size_t size, off_t offset);
  virtual ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset);
  // As ftruncate(2), fsync(2), fdatasync(2) and rename(2).
  virtual int Truncate(int fd, off_t length);
  virtual int Sync(int fd);
  virtual int DataSync(int fd);
  virtual int Rename(const char* from, const char* to);
  // A read-only shared mapping of the first `size` bytes of the file, or
  // null when it cannot be had; a reader then falls back on ReadAt. The
  // mapping stays valid until Unmap.
  virtual const char* Map(int fd, std::size_t size);
  virtual void Unmap(const char* at, std::size_t size);
};

// The real file-system calls.
FileIo& DefaultFileIo();

// `size` bytes at `offset`, read or written whole. A failed call gives its
// errno (Status::FromErrno: a full disk, an I/O error); a read that meets the
// end of the file first is kCorrupt (the file is shorter than its own
// figures say), and a write that puts down nothing without an error an I/O
// error. The Status names no path: the caller knows the file and adds it
// (Status::WithPath).
Status ReadFully(FileIo& io, int fd, void* buf, std::size_t size, off_t offset);
Status WriteFully(FileIo& io, int fd, const void* data, std::size_t size, off_t offset);

// A FileIo that passes every call on to another and keeps the first call
// that failed since the last Reset: its errno and the file it was made on.
// An owner of several files (a table and its companion) goes through one
// watch and, when an operation of its own fails, asks it for the cause, so
// the errno is taken where the call failed and not read later, after other
// calls may have changed it.
//
// Thread safety: as the FileIo it wraps, and used by one owner at a time.
class FailureWatch : public FileIo {
 public:
  void Wrap(FileIo* inner) { inner_ = inner ? inner : &DefaultFileIo(); }
  FileIo& inner() const { return *inner_; }
  // The path a failure on `fd` names; `fallback` names any other file.
  void Name(int fd, std::string path);
  void Forget(int fd);
  void SetFallbackPath(std::string path) { fallback_ = std::move(path); }
  void Reset() { failedFd_ = -2, error_ = 0; }
  // The first failure since Reset (FromErrno, naming its file); ok when
  // no call failed.
  Status FirstFailure() const;

  ssize_t ReadAt(int fd, void* buf, std::size_t size, off_t offset) override;
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override;
  int Truncate(int fd, off_t length) override;
  int Sync(int fd) override;
  int DataSync(int fd) override;
  int Rename(const char* from, const char* to) override;
  const char* Map(int fd, std::size_t size) override;
  void Unmap(const char* at, std::size_t size) override;
  // A refused lock is no failure of the disk: the lock calls pass through
  // without being kept; nor is an open that finds no file (ENOENT).
  int Open(const char* path, int flags, mode_t mode) override;
  int Close(int fd) override;
  int Remove(const char* path) override;
  int LockRange(int fd, int command, struct flock* lock) override;
  int LockWhole(int fd, int operation) override;
  int SyncFolder(const char* folder) override;

 private:
  // Keeps the failure of a call made on the file `path` (no descriptor).
  void NoteAt(const char* path);
  // Keeps the failure of a call on `fd` (-1: no descriptor) unless an
  // earlier one is kept; errno is left as the call set it.
  void Note(int fd);

  FileIo* inner_ = &DefaultFileIo();
  std::vector<std::pair<int, std::string>> names_;
  std::string fallback_;
  int failedFd_ = -2;  // -2: nothing failed
  int error_ = 0;
  std::string failedPath_;  // the file of a failed call made by path
};

}  // namespace autodeliver
