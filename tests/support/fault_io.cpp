#include "support/fault_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace autodeliver::testing {

namespace {

// The file an open descriptor names, through /proc.
std::string PathOf(int fd) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

int Fail(int error) {
  errno = error;
  return -1;
}

}  // namespace

std::size_t FaultIo::Lands(std::size_t wanted, std::size_t size) {
  if (wanted == kAll) return size;
  if (wanted == kHalf) return size / 2;
  return std::min(wanted, size);
}

ssize_t FaultIo::Put(int fd, const void* data, std::size_t size, off_t offset) {
  if (recordUnflushed) Remember(fd, offset, size);
  return FileIo::WriteAt(fd, data, size, offset);
}

ssize_t FaultIo::WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
  ++writes;
  ++writeCalls;
  if (writes == crashAtWrite) {
    Put(fd, data, Lands(crashLands, size), offset);
    ::_exit(crashExitCode);
  }
  if (writes == failWrite) {
    failed = true;
    if (const std::size_t n = Lands(failWriteLands, size); n > 0) Put(fd, data, n, offset);
    return Fail(failWriteErrno);
  }
  if (failWritesFrom > 0 && writeCalls >= failWritesFrom) {
    failed = true;
    return Fail(ENOSPC);
  }
  if (room != kNoLimit || fileSizeLimit >= 0) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    const off_t end = offset + static_cast<off_t>(size);
    // How many bytes fit: below the file size limit, and within the room
    // left for the file to grow.
    std::size_t fits = size;
    if (fileSizeLimit >= 0 && end > fileSizeLimit)
      fits = offset < fileSizeLimit ? static_cast<std::size_t>(fileSizeLimit - offset) : 0;
    const std::size_t growth =
        end > st.st_size ? static_cast<std::size_t>(end - std::max(offset, st.st_size)) : 0;
    if (room != kNoLimit && growth > room) fits = std::min(fits, size - (growth - room));
    if (fits < size) {
      failed = true;
      if (room != kNoLimit) room = 0;
      if (fits > 0) Put(fd, data, fits, offset);
      return Fail(ENOSPC);
    }
    if (room != kNoLimit) room -= growth;
  }
  return Put(fd, data, size, offset);
}

int FaultIo::Truncate(int fd, off_t length) {
  ++writes;
  if (writes == failWrite) {
    failed = true;
    return Fail(failWriteErrno);
  }
  if (recordUnflushed) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > length)
      Remember(fd, length, static_cast<std::size_t>(st.st_size - length));
    else
      Remember(fd, 0, 0);
  }
  const int result = FileIo::Truncate(fd, length);
  if (writes == crashAtWrite) ::_exit(crashExitCode);
  return result;
}

ssize_t FaultIo::ReadAt(int fd, void* buf, std::size_t size, off_t offset) {
  if (++reads == failRead) {
    failed = true;
    return Fail(EIO);
  }
  if (readPiece > 0 && size > readPiece) size = readPiece;
  return FileIo::ReadAt(fd, buf, size, offset);
}

int FaultIo::Flush(int fd, bool data) {
  if (++syncs == failSync) {
    failed = true;
    return Fail(EIO);
  }
  if (dropSyncs) return 0;
  if (recordUnflushed) unflushed_.erase(PathOf(fd));
  return data ? FileIo::DataSync(fd) : FileIo::Sync(fd);
}

int FaultIo::Sync(int fd) { return Flush(fd, false); }

int FaultIo::DataSync(int fd) { return Flush(fd, true); }

int FaultIo::Rename(const char* from, const char* to) {
  if (++renames == failRename) {
    failed = true;
    return Fail(failRenameErrno);
  }
  return FileIo::Rename(from, to);
}

const char* FaultIo::Map(int fd, std::size_t size) { return noMap ? nullptr : FileIo::Map(fd, size); }

int FaultIo::Open(const char* path, int flags, mode_t mode) {
  if (++opens == failOpen ||
      (!failOpenPath.empty() && std::string_view(path).find(failOpenPath) != std::string_view::npos)) {
    failed = true;
    return Fail(failOpenErrno);
  }
  return FileIo::Open(path, flags, mode);
}

int FaultIo::Remove(const char* path) {
  if (++removes == failRemove) {
    failed = true;
    return Fail(failRemoveErrno);
  }
  return FileIo::Remove(path);
}

int FaultIo::LockRange(int fd, int command, struct flock* lock) {
  if (locksBusy && lock->l_type != F_UNLCK) {
    failed = true;
    return Fail(command == F_OFD_SETLKW || command == F_SETLKW ? ENOLCK : EAGAIN);
  }
  return FileIo::LockRange(fd, command, lock);
}

int FaultIo::LockWhole(int fd, int operation) {
  if (locksBusy && (operation & LOCK_UN) == 0) {
    failed = true;
    return Fail((operation & LOCK_NB) != 0 ? EWOULDBLOCK : ENOLCK);
  }
  return FileIo::LockWhole(fd, operation);
}

int FaultIo::SyncFolder(const char* folder) {
  if (++folderSyncs == failSyncFolder) {
    failed = true;
    return Fail(EIO);
  }
  return FileIo::SyncFolder(folder);
}

void FaultIo::Remember(int fd, off_t offset, std::size_t size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  Undo undo{offset, {}, st.st_size};
  if (offset < st.st_size) {
    undo.bytes.resize(
        static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(size), st.st_size - offset)));
    if (::pread(fd, undo.bytes.data(), undo.bytes.size(), offset) != static_cast<ssize_t>(undo.bytes.size()))
      undo.bytes.clear();
  }
  unflushed_[PathOf(fd)].push_back(std::move(undo));
}

void FaultIo::PowerCut() {
  for (auto& [path, undos] : unflushed_) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) continue;
    for (auto it = undos.rbegin(); it != undos.rend(); ++it) {
      if (!it->bytes.empty()) FileIo::WriteAt(fd, it->bytes.data(), it->bytes.size(), it->offset);
      FileIo::Truncate(fd, it->size);
    }
    ::close(fd);
  }
  unflushed_.clear();
}

}  // namespace autodeliver::testing
