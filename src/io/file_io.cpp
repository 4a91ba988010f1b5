#include "io/file_io.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace autodeliver {

ssize_t FileIo::ReadAt(int fd, void* buf, std::size_t size, off_t offset) {
  return ::pread(fd, buf, size, offset);
}

ssize_t FileIo::WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}

int FileIo::Truncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int FileIo::Sync(int fd) { return ::fsync(fd); }
int FileIo::DataSync(int fd) { return ::fdatasync(fd); }
int FileIo::Rename(const char* from, const char* to) { return ::rename(from, to); }

const char* FileIo::Map(int fd, std::size_t size) {
  if (size == 0) return nullptr;
  void* m = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  return m == MAP_FAILED ? nullptr : static_cast<const char*>(m);
}

void FileIo::Unmap(const char* at, std::size_t size) {
  if (at) ::munmap(const_cast<char*>(at), size);
}

FileIo& DefaultFileIo() {
  static FileIo io;
  return io;
}

bool ReadFully(FileIo& io, int fd, void* buf, std::size_t size, off_t offset) {
  auto* p = static_cast<char*>(buf);
  while (size > 0) {
    ssize_t got = io.ReadAt(fd, p, size, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

bool WriteFully(FileIo& io, int fd, const void* data, std::size_t size, off_t offset) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t put = io.WriteAt(fd, p, size, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    size -= static_cast<std::size_t>(put);
    offset += put;
  }
  return true;
}

}  // namespace autodeliver
