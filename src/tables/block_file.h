// BlockFile: the companion block file of a record table (layout in
// table_format.h), which holds the long texts and byte arrays that do not
// fit a fixed-size record. A value is a chain of 512-byte blocks; a record
// field holds the number of its chain's first block.
//
// Free blocks form a list named by block 0 and are reused before the file
// grows. The list is never trusted: a block is taken from it only when it
// lies inside the file, carries the free mark and has not been met before on
// the way, and only while the list agrees with its count. A list that fails
// this is rebuilt from the blocks that the records' chains use, before
// anything is written, so a write never takes a block a record still uses.
// Check() holds the whole list against the chains for the table tool.
//
// New chains are kept in memory (pending) until WritePending puts them
// down, so that a run of appends writes its blocks together. Write order
// keeps the file sound when a write fails or the process dies: the chains'
// blocks are written before block 0 counts them taken, and block 0 is
// restored when its own write fails. At worst blocks are left neither free
// nor used (leaked), or a free block loses its mark, which the next write
// that needs the list repairs. Until KeepWritten, UndoWritten puts block 0
// and the free blocks the chains took back as they were, for a record write
// that failed after its chains were written.
//
// Thread safety: used by the one thread that uses its RecordTable, under the
// table's lock (the table file's record-count lock covers this file too).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/file_io.h"
#include "tables/pending_writes.h"

namespace autodeliver {

// What Check() found in a companion file.
struct BlockReport {
  std::int32_t blocks = 0;  // block count, block 0 included
  std::int32_t used = 0;    // blocks in the chains of the records
  std::int32_t free = 0;    // blocks on the free list, as walked
  std::int32_t leaked = 0;  // data blocks neither used nor free
  // Damage that could make a write overwrite a value: a block both free and
  // used, a block reached twice through the chains, a loop or a block
  // outside the file on the free list, a list that disagrees with its count.
  // Empty when sound.
  std::vector<std::string> problems;
};

// A 64-bit checksum (FNV-1a) of `bytes`, for the stamps that tell whether
// another writer changed a file between two accesses.
std::uint64_t ContentSum(std::string_view bytes);

class BlockFile {
 public:
  BlockFile() = default;
  ~BlockFile();
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;

  // Opens the companion file of the table at `tablePath` (its extension in
  // either letter case), checks block 0 (magic, `version`, a block count
  // above 0, free-list figures inside the file) and lowers the block count
  // to the whole blocks present. The caller holds the table's write lock.
  bool Open(const std::string& tablePath, std::int32_t version, FileIo& io);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Flushes the file's written bytes to the disk (FileIo::Sync).
  bool Sync() { return fd_ < 0 || io_->Sync(fd_) == 0; }

  // Reads block 0 again (its figures, and the whole block for Stamp), at
  // the start of every table access.
  bool Refresh();
  // Drops the read mapping that scans use (at the end of an access).
  void DropMapping();

  std::int32_t blockCount() const { return now_.count; }

  // The value bytes of the chain from `first` (nothing for 0). Fails on a
  // block outside the file, a loop, a length beyond a block's payload or a
  // read error. With `mapped`, reads go through a mapping of the file made
  // on first use.
  bool ReadChain(std::int32_t first, std::string* out, bool mapped);

  // Blocks that a value of `size` bytes takes.
  static std::int32_t BlocksFor(std::size_t size);
  // True when the next `n` blocks can be taken from the free list as it is
  // (see above); a false answer calls for RebuildFreeList.
  bool FreeListServes(std::int32_t n);
  // Makes every data block that no chain from `heads` uses free, in a list
  // in block order. Fails, leaving block 0 as it was, when a write fails.
  bool RebuildFreeList(const std::vector<std::int32_t>& heads);

  // Stores `value` in a new chain, pending, and counts its blocks taken in
  // this access; *first is its first block, 0 for an empty value. The
  // caller checks the free list first (FreeListServes), and writes or drops
  // what is pending before anything else reads or changes the file.
  bool WriteChain(std::string_view value, std::int32_t* first);

  // The chains written since the last WritePending or DropPending.
  bool HasPending() const { return !pending_.empty() || !(now_ == disk_); }
  std::size_t PendingBytes() const { return pending_.bytes(); }
  struct PendingMark {
    PendingWrites::Mark writes;
    std::size_t taken = 0;
    std::int32_t count = 0, freeHead = 0, freeCount = 0;
  };
  PendingMark GetPendingMark() const;
  // Forgets the chains written after `mark`; their blocks are free again.
  void DropPendingTo(const PendingMark& mark);
  void DropPending();
  // Writes the pending chains, then block 0. False when a write fails: the
  // pending chains are dropped and block 0 is put back as it was.
  bool WritePending();
  // After WritePending: block 0 and the free blocks taken go back to how
  // they were before it (a failed write may leak blocks, never lose them).
  void UndoWritten();
  // After WritePending: what was written stays.
  void KeepWritten() { taken_.clear(); }
  // Puts the blocks of the chains from `firsts` on the free list, as far as
  // each chain is sound. With `kept` (UseCounts of the chains that stay), a
  // chain stops at the first block that one of those also reaches: in a
  // damaged file two values may share blocks, and freeing one of them would
  // break the other now and hand its blocks to the next write. Without it,
  // the caller knows that no other chain reaches these blocks.
  void FreeChains(const std::vector<std::int32_t>& firsts, const std::vector<std::uint8_t>& kept = {});

  // For each block, how many of the chains from `heads` reach it (capped).
  std::vector<std::uint8_t> UseCounts(const std::vector<std::int32_t>& heads);

  // Holds the free list against the chains from `heads`, or against their
  // UseCounts.
  BlockReport Check(const std::vector<std::int32_t>& heads) { return CheckUses(UseCounts(heads)); }
  BlockReport CheckUses(const std::vector<std::uint8_t>& uses);

  // What identifies the file's state between accesses: its block 0 figures,
  // a checksum of block 0 as it stands on the disk, and size and change time
  // (fstat). Block 0 is the one Refresh read with the figures written since
  // put in; it is read again only when a write of the figures failed.
  bool Stamp(std::int32_t figures[3], std::uint64_t* headerSum, struct stat* st) const;

 private:
  struct Figures {
    std::int32_t count = 0;
    std::int32_t freeHead = 0;
    std::int32_t freeCount = 0;
    bool operator==(const Figures&) const = default;
  };
  // A block taken from the free list with its free link as it was.
  struct TakenBlock {
    std::int32_t block = 0;
    char link[12] = {};
  };

  const char* ReadBlock(std::int32_t b, char* scratch, bool mapped);
  bool ReadLink(std::int32_t b, char link[12]);
  bool WriteFigures();
  std::int32_t TakeBlock();

  FileIo* io_ = &DefaultFileIo();
  int fd_ = -1;
  Figures now_;   // as this access sees them
  Figures disk_;  // as block 0 holds them
  // Block 0 as Refresh read it, the figures aside (disk_ holds those);
  // zeroKnown_ is false when a failed write may have left other bytes.
  char zero_[512] = {};
  bool zeroKnown_ = false;
  const char* map_ = nullptr;
  std::size_t mapBytes_ = 0;
  PendingWrites pending_;          // blocks of chains not yet written
  std::vector<TakenBlock> taken_;  // free blocks taken since the last write was kept
  Figures before_;                 // block 0 before WritePending
  struct ChainBlock {
    std::int32_t block = 0;
    std::ptrdiff_t taken = -1;  // index in taken_ when it came from the free list
  };
  std::vector<ChainBlock> chain_;  // WriteChain's blocks, kept for their memory
  void RestoreLinks();
};

}  // namespace autodeliver
