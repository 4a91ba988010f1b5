// FileIo: the file-system calls through which the store reads and changes
// its files (the record tables, their companion block files, the purge
// journal, and the Jet4 card database), behind one interface, so that tests
// can make a write fail part-way, fill the disk, or hand back short reads,
// without resource limits or special file systems.
//
// Each method has the contract of the POSIX call it names. DefaultFileIo()
// makes the real calls; a test derives from FileIo, overrides what it wants
// to break and passes the rest on to the base class.
//
// ReadFully and WriteFully loop over short transfers and EINTR, and fail on
// an error or (for reads) the end of the file.
//
// Thread safety: the default implementation is stateless and may be shared
// by any number of threads; a test's implementation is used by the one
// thread that handed it to the store.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace autodeliver {

class FileIo {
 public:
  virtual ~FileIo() = default;

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

// `size` bytes at `offset`, read or written whole; false on an error, and for
// reads on the end of the file.
bool ReadFully(FileIo& io, int fd, void* buf, std::size_t size, off_t offset);
bool WriteFully(FileIo& io, int fd, const void* data, std::size_t size, off_t offset);

}  // namespace autodeliver
