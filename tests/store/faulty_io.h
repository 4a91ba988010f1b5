// Test helper: a FileIo that breaks the calls a test asks it to break (one
// write torn half way, a size no file may grow past, reads handed back in
// small pieces or failing) and passes everything else to the real calls.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>

#include "io/file_io.h"

namespace autodeliver::testing {

class FaultyIo : public FileIo {
 public:
  // The n-th write or truncate (1-based) fails; a write first puts down half
  // of its bytes, as a write torn by a failing disk would. 0: none fails.
  int failWrite = 0;
  // No file may grow past this many bytes: a write reaching further puts
  // down what fits and fails with ENOSPC, as on a full disk. -1: no limit.
  off_t sizeLimit = -1;
  // No file may grow at all.
  bool diskFull = false;
  // Reads return at most this many bytes each (0: as many as asked), and
  // the n-th read fails (0: none).
  std::size_t readPiece = 0;
  int failRead = 0;
  // Refuse mappings, so that every read goes through ReadAt.
  bool noMap = false;

  int writes = 0;
  int reads = 0;
  bool failed = false;  // a fault was injected

  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    if (++writes == failWrite) {
      failed = true;
      FileIo::WriteAt(fd, data, size / 2, offset);
      errno = EIO;
      return -1;
    }
    off_t limit = sizeLimit;
    struct stat st {};
    if (diskFull && ::fstat(fd, &st) == 0) limit = st.st_size;
    if (limit >= 0 && offset + static_cast<off_t>(size) > limit) {
      failed = true;
      if (offset < limit) FileIo::WriteAt(fd, data, static_cast<std::size_t>(limit - offset), offset);
      errno = ENOSPC;
      return -1;
    }
    return FileIo::WriteAt(fd, data, size, offset);
  }

  int Truncate(int fd, off_t length) override {
    if (++writes == failWrite) {
      failed = true;
      errno = EIO;
      return -1;
    }
    return FileIo::Truncate(fd, length);
  }

  ssize_t ReadAt(int fd, void* buf, std::size_t size, off_t offset) override {
    if (++reads == failRead) {
      failed = true;
      errno = EIO;
      return -1;
    }
    if (readPiece > 0 && size > readPiece) size = readPiece;
    return FileIo::ReadAt(fd, buf, size, offset);
  }

  const char* Map(int fd, std::size_t size) override { return noMap ? nullptr : FileIo::Map(fd, size); }
};

}  // namespace autodeliver::testing
