// The file-system calls the Jet4 writer makes when it replaces a file, behind
// an interface so that tests can make a write fail part-way (a full disk) or
// stop the process in the middle of one (a crash).
//
// Thread safety: the default implementation is stateless; a test's own
// implementation is used by one call at a time.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace autodeliver {

class Jet4Io {
 public:
  virtual ~Jet4Io() = default;
  // As POSIX write(2): bytes written, or -1 with errno set.
  virtual ssize_t Write(int fd, const void* data, std::size_t size);
  // As POSIX fsync(2).
  virtual int Sync(int fd);
  // As POSIX rename(2).
  virtual int Rename(const char* from, const char* to);
};

}  // namespace autodeliver
