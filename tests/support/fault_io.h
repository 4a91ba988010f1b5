// A FileIo that breaks the calls a test asks it to break and passes the rest
// on to the real calls: a write failing (torn part way, or with nothing put
// down) with the error of a failing disk, of a full disk or of a refused
// permission; a disk that fills up; a process that ends in the middle of a
// write; reads that fail or come back in small pieces; flushes that fail or
// are silently dropped; a power cut that undoes what was never flushed; an
// open refused (no permission, no descriptor left), a lock held elsewhere,
// a removal or a folder flush that fails.
//
// Every setting is off by default, so a default FaultIo behaves as the real
// calls. Counts are 1-based: `failWrite = 3` fails the third write. WriteAt
// and Truncate both count as writes; Sync and DataSync both as flushes.
//
// Used by the one thread that handed it to the code under test.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "io/file_io.h"

namespace autodeliver::testing {

class FaultIo : public FileIo {
 public:
  // How much of a failing or crashing write reaches the file: half of its
  // bytes, all of them, or else at most that many bytes.
  static constexpr std::size_t kHalf = SIZE_MAX - 1;
  static constexpr std::size_t kAll = SIZE_MAX;
  static constexpr std::size_t kNoLimit = SIZE_MAX;

  // The n-th write fails with `failWriteErrno` (EIO, ENOSPC, EACCES...)
  // after putting down `failWriteLands` of its bytes; a truncation that
  // fails changes nothing. 0: none fails.
  int failWrite = 0;
  int failWriteErrno = EIO;
  std::size_t failWriteLands = kHalf;
  // Every WriteAt from the n-th on (truncations not counted) fails with
  // ENOSPC and puts down nothing, as a disk that is full from then on.
  // 0: none.
  int failWritesFrom = 0;
  // Room left on the disk: a write that makes a file grow past it puts down
  // what fits (overwriting bytes a file has already needs no room) and
  // fails with ENOSPC; the room is then used up. 0: a full disk.
  std::size_t room = kNoLimit;
  // No file may grow past this many bytes; a write reaching further puts
  // down what fits and fails with ENOSPC. -1: no limit.
  off_t fileSizeLimit = -1;

  // The n-th write puts down `crashLands` of its bytes (a truncation:
  // happens whole) and then the process ends at once with `crashExitCode`,
  // as a kill or a crash would end it. 0: none.
  int crashAtWrite = 0;
  std::size_t crashLands = kAll;
  int crashExitCode = 0;

  // The n-th read fails with EIO (0: none); every read returns at most
  // `readPiece` bytes (0: as many as asked).
  int failRead = 0;
  std::size_t readPiece = 0;
  // Mappings are refused, so that every read goes through ReadAt.
  bool noMap = false;

  // The n-th flush fails with EIO (0: none).
  int failSync = 0;
  // Flushes report success but do nothing: a power cut still undoes what
  // was written before them.
  bool dropSyncs = false;

  // The n-th rename fails with `failRenameErrno` and renames nothing.
  int failRename = 0;
  int failRenameErrno = EIO;

  // The n-th open fails with `failOpenErrno` (EACCES, EMFILE...) and opens
  // nothing; so does every open of a path that contains `failOpenPath`
  // (when not empty). 0: none by count.
  int failOpen = 0;
  std::string failOpenPath;
  int failOpenErrno = EACCES;
  // Every lock asked for is held elsewhere: a lock that would not wait is
  // refused with EAGAIN (fcntl) or EWOULDBLOCK (flock), one that would wait
  // with ENOLCK rather than waiting for ever. Unlocks pass.
  bool locksBusy = false;
  // The n-th removal fails with `failRemoveErrno` and removes nothing.
  int failRemove = 0;
  int failRemoveErrno = EIO;
  // The n-th folder flush fails with EIO. 0: none.
  int failSyncFolder = 0;

  // Keeps what each write and truncation replaced, per file, until the file
  // is flushed, so that PowerCut can undo it. Off by default: it costs a
  // read per write.
  bool recordUnflushed = false;
  // The power goes off: every write and truncation not flushed since is
  // undone, newest first.
  void PowerCut();

  // What passed so far.
  int writes = 0;      // WriteAt and Truncate
  int writeCalls = 0;  // WriteAt alone
  int reads = 0;
  int syncs = 0;
  int renames = 0;
  int opens = 0;
  int removes = 0;
  int folderSyncs = 0;
  bool failed = false;  // a fault was injected

  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override;
  int Truncate(int fd, off_t length) override;
  ssize_t ReadAt(int fd, void* buf, std::size_t size, off_t offset) override;
  int Sync(int fd) override;
  int DataSync(int fd) override;
  int Rename(const char* from, const char* to) override;
  const char* Map(int fd, std::size_t size) override;
  int Open(const char* path, int flags, mode_t mode) override;
  int Remove(const char* path) override;
  int LockRange(int fd, int command, struct flock* lock) override;
  int LockWhole(int fd, int operation) override;
  int SyncFolder(const char* folder) override;

 private:
  struct Undo {
    off_t offset;
    std::string bytes;  // what stood there (up to the old end of the file)
    off_t size;         // the file's size before
  };
  static std::size_t Lands(std::size_t wanted, std::size_t size);
  int Flush(int fd, bool data);
  void Remember(int fd, off_t offset, std::size_t size);
  ssize_t Put(int fd, const void* data, std::size_t size, off_t offset);

  std::map<std::string, std::vector<Undo>> unflushed_;
};

}  // namespace autodeliver::testing
