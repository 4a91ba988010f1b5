#include "io/file_io.h"

#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace autodeliver {

ssize_t FileIo::ReadAt(int fd, void* buf, std::size_t size, off_t offset) {
  return ::pread(fd, buf, size, offset);
}

ssize_t FileIo::WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}

int FileIo::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int FileIo::Close(int fd) { return ::close(fd); }
int FileIo::Remove(const char* path) { return ::unlink(path); }
int FileIo::LockRange(int fd, int command, struct flock* lock) { return ::fcntl(fd, command, lock); }
int FileIo::LockWhole(int fd, int operation) { return ::flock(fd, operation); }

int FileIo::SyncFolder(const char* folder) {
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int rc = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  errno = error;
  return rc;
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

Status ReadFully(FileIo& io, int fd, void* buf, std::size_t size, off_t offset) {
  auto* p = static_cast<char*>(buf);
  while (size > 0) {
    errno = 0;
    ssize_t got = io.ReadAt(fd, p, size, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Status::FromErrno({}, errno);
    if (got == 0) return Status::Corrupt({}, "the file ends before offset " + std::to_string(offset + size));
    p += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return Status();
}

Status WriteFully(FileIo& io, int fd, const void* data, std::size_t size, off_t offset) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    errno = 0;
    ssize_t put = io.WriteAt(fd, p, size, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return Status::FromErrno({}, errno);
    if (put == 0) return Status::IoError({}, EIO);
    p += put;
    size -= static_cast<std::size_t>(put);
    offset += put;
  }
  return Status();
}

void FailureWatch::Name(int fd, std::string path) {
  Forget(fd);
  if (fd >= 0) names_.emplace_back(fd, std::move(path));
}

void FailureWatch::Forget(int fd) {
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (names_[i].first != fd) continue;
    names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

void FailureWatch::Note(int fd) {
  const int e = errno;
  if (failedFd_ == -2 && e != EINTR) {
    failedFd_ = fd;
    error_ = e;
  }
  errno = e;
}

Status FailureWatch::FirstFailure() const {
  if (failedFd_ == -2) return Status();
  std::string path = failedFd_ == -1 ? failedPath_ : fallback_;
  for (const auto& [fd, name] : names_)
    if (fd == failedFd_) path = name;
  return Status::FromErrno(path, error_);
}

ssize_t FailureWatch::ReadAt(int fd, void* buf, std::size_t size, off_t offset) {
  const ssize_t n = inner_->ReadAt(fd, buf, size, offset);
  if (n < 0) Note(fd);
  return n;
}

ssize_t FailureWatch::WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
  const ssize_t n = inner_->WriteAt(fd, data, size, offset);
  if (n < 0) Note(fd);
  return n;
}

int FailureWatch::Truncate(int fd, off_t length) {
  const int rc = inner_->Truncate(fd, length);
  if (rc != 0) Note(fd);
  return rc;
}

int FailureWatch::Sync(int fd) {
  const int rc = inner_->Sync(fd);
  if (rc != 0) Note(fd);
  return rc;
}

int FailureWatch::DataSync(int fd) {
  const int rc = inner_->DataSync(fd);
  if (rc != 0) Note(fd);
  return rc;
}

int FailureWatch::Rename(const char* from, const char* to) {
  const int rc = inner_->Rename(from, to);
  if (rc != 0) NoteAt(to);
  return rc;
}

void FailureWatch::NoteAt(const char* path) {
  if (failedFd_ == -2 && errno != EINTR) failedPath_ = path;
  Note(-1);
}

int FailureWatch::Open(const char* path, int flags, mode_t mode) {
  const int fd = inner_->Open(path, flags, mode);
  // A file that is not there is the caller's to judge: an optional file
  // (a journal left by no purge) is looked for as often as it is missing.
  if (fd < 0 && errno != ENOENT) NoteAt(path);
  return fd;
}

int FailureWatch::Close(int fd) {
  const int rc = inner_->Close(fd);
  if (rc != 0) Note(fd);
  return rc;
}

int FailureWatch::Remove(const char* path) {
  const int rc = inner_->Remove(path);
  if (rc != 0) NoteAt(path);
  return rc;
}

int FailureWatch::LockRange(int fd, int command, struct flock* lock) {
  return inner_->LockRange(fd, command, lock);
}
int FailureWatch::LockWhole(int fd, int operation) { return inner_->LockWhole(fd, operation); }

int FailureWatch::SyncFolder(const char* folder) {
  const int rc = inner_->SyncFolder(folder);
  if (rc != 0) NoteAt(folder);
  return rc;
}

const char* FailureWatch::Map(int fd, std::size_t size) { return inner_->Map(fd, size); }
void FailureWatch::Unmap(const char* at, std::size_t size) { inner_->Unmap(at, size); }

}  // namespace autodeliver
