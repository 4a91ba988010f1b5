#include "tables/block_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

#include "io/coding.h"
#include "tables/record_table.h"
#include "tables/table_format.h"

namespace autodeliver {

namespace fmt = table_format;

namespace {

off_t BlockOffset(std::int32_t b) { return static_cast<off_t>(b) * fmt::kBlockSize; }

}  // namespace

std::uint64_t ContentSum(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

BlockFile::~BlockFile() { Close(); }

bool BlockFile::Open(const std::string& tablePath, std::int32_t version, FileIo& io) {
  Close();
  io_ = &io;
  std::string path = CompanionFilePath(tablePath);
  fd_ = io_->Open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd_ < 0 && errno == ENOENT) {
    // Files copied from a case-blind file system may carry the other case.
    for (std::size_t i = path.size() - 3; i < path.size(); ++i) path[i] = static_cast<char>(path[i] ^ 0x20);
    fd_ = io_->Open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
  }
  if (fd_ < 0) return false;
  char b[fmt::kFreeCountOffset + 4];
  if (!ReadFully(*io_, fd_, b, sizeof b, 0)) return false;
  if (std::memcmp(b, fmt::kBlockMagic, 4) != 0 || DecodeInt32(b + fmt::kVersionOffset) != version)
    return false;
  now_.count = DecodeInt32(b + fmt::kBlockCountOffset);
  now_.freeHead = DecodeInt32(b + fmt::kFreeHeadOffset);
  now_.freeCount = DecodeInt32(b + fmt::kFreeCountOffset);
  disk_ = now_;
  if (now_.count <= 0 || now_.freeHead < 0 || now_.freeHead >= now_.count || now_.freeCount < 0 ||
      now_.freeCount >= now_.count)
    return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return false;
  std::int64_t whole = st.st_size / fmt::kBlockSize;
  if (whole < now_.count) {
    now_.count = static_cast<std::int32_t>(whole);
    if (now_.freeHead >= now_.count || now_.freeCount >= now_.count) {
      // The free list may name blocks that are gone: forget it.
      now_.freeHead = 0;
      now_.freeCount = 0;
    }
    if (!WriteFigures()) return false;
  }
  return true;
}

void BlockFile::Close() {
  DropMapping();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool BlockFile::Refresh() {
  DropMapping();
  zeroKnown_ = false;
  // The whole block in the one read: Stamp sums it without reading again.
  if (!ReadFully(*io_, fd_, zero_, sizeof zero_, 0)) return false;
  zeroKnown_ = true;
  const char* b = zero_ + fmt::kBlockCountOffset;
  now_.count = DecodeInt32(b);
  now_.freeHead = DecodeInt32(b + 4);
  now_.freeCount = DecodeInt32(b + 8);
  disk_ = now_;
  return now_.count > 0;
}

void BlockFile::DropMapping() {
  if (map_) io_->Unmap(map_, mapBytes_);
  map_ = nullptr;
  mapBytes_ = 0;
}

// The bytes of block `b`, read into `scratch` unless they are mapped; null
// on a read error.
const char* BlockFile::ReadBlock(std::int32_t b, char* scratch, bool mapped) {
  std::size_t at = static_cast<std::size_t>(b) * fmt::kBlockSize;
  if (mapped && !map_) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
      std::size_t whole = static_cast<std::size_t>(st.st_size) / fmt::kBlockSize * fmt::kBlockSize;
      std::size_t bytes = std::min(whole, static_cast<std::size_t>(now_.count) * fmt::kBlockSize);
      map_ = io_->Map(fd_, bytes);
      mapBytes_ = map_ ? bytes : 0;
    }
  }
  if (map_ && at + fmt::kBlockSize <= mapBytes_) return map_ + at;
  return ReadFully(*io_, fd_, scratch, fmt::kBlockSize, BlockOffset(b)) ? scratch : nullptr;
}

bool BlockFile::ReadChain(std::int32_t first, std::string* out, bool mapped) {
  out->clear();
  char scratch[fmt::kBlockSize];
  std::int32_t steps = 0;
  for (std::int32_t b = first; b > 0;) {
    if (b >= now_.count || ++steps >= now_.count) return false;
    const char* block = ReadBlock(b, scratch, mapped);
    if (!block) return false;
    std::int32_t len = DecodeInt32(block + fmt::kBlockLengthOffset);
    if (len < 0 || len > fmt::kBlockPayload) return false;
    out->append(block + fmt::kBlockDataOffset, len);
    b = DecodeInt32(block + fmt::kBlockNextOffset);
  }
  return true;
}

// Writes the figures to block 0. When the write fails, block 0 is put back
// as it was and this access goes on with those figures.
bool BlockFile::WriteFigures() {
  DropMapping();
  char b[12];
  EncodeInt32(b, now_.count);
  EncodeInt32(b + 4, now_.freeHead);
  EncodeInt32(b + 8, now_.freeCount);
  if (WriteFully(*io_, fd_, b, sizeof b, fmt::kBlockCountOffset)) {
    disk_ = now_;
    return true;
  }
  EncodeInt32(b, disk_.count);
  EncodeInt32(b + 4, disk_.freeHead);
  EncodeInt32(b + 8, disk_.freeCount);
  // Block 0 now holds what this write or the one putting it back left.
  if (!WriteFully(*io_, fd_, b, sizeof b, fmt::kBlockCountOffset)) zeroKnown_ = false;
  now_ = disk_;
  return false;
}

bool BlockFile::ReadLink(std::int32_t b, char link[12]) {
  return ReadFully(*io_, fd_, link, fmt::kFreeLinkBytes, BlockOffset(b)).ok();
}

std::int32_t BlockFile::BlocksFor(std::size_t size) {
  return static_cast<std::int32_t>((size + fmt::kBlockPayload - 1) / fmt::kBlockPayload);
}

bool BlockFile::FreeListServes(std::int32_t n) {
  if ((now_.freeHead == 0) != (now_.freeCount == 0)) return false;
  std::int32_t walk = std::min(n, now_.freeCount);
  std::vector<std::int32_t> seen;
  std::int32_t b = now_.freeHead;
  for (std::int32_t i = 0; i < walk; ++i) {
    char link[fmt::kFreeLinkBytes];
    if (b <= 0 || b >= now_.count || std::find(seen.begin(), seen.end(), b) != seen.end() ||
        !ReadLink(b, link))
      return false;
    if (DecodeInt32(link + fmt::kBlockNextOffset) != 0 ||
        DecodeInt32(link + fmt::kBlockLengthOffset) != fmt::kFreeMark)
      return false;
    seen.push_back(b);
    b = DecodeInt32(link + fmt::kBlockFreeNextOffset);
  }
  // A list used up must end where its count says.
  return walk < now_.freeCount || b == 0;
}

std::vector<std::uint8_t> BlockFile::UseCounts(const std::vector<std::int32_t>& heads) {
  std::vector<std::uint8_t> uses(static_cast<std::size_t>(now_.count), 0);
  char scratch[fmt::kBlockSize];
  for (std::int32_t b : heads) {
    for (std::int32_t steps = 0; b > 0 && b < now_.count && ++steps < now_.count;) {
      if (uses[b] < UINT8_MAX) ++uses[b];
      if (uses[b] > 1) break;  // met before: the rest of this chain is counted already
      const char* block = ReadBlock(b, scratch, true);
      if (!block) break;
      b = DecodeInt32(block + fmt::kBlockNextOffset);
    }
  }
  return uses;
}

bool BlockFile::RebuildFreeList(const std::vector<std::int32_t>& heads) {
  std::vector<std::uint8_t> uses = UseCounts(heads);
  DropMapping();
  std::vector<std::int32_t> free;
  for (std::int32_t b = 1; b < now_.count; ++b)
    if (uses[b] == 0) free.push_back(b);
  // The links first, block 0 last: until it is written the old list stands,
  // and every block that got the free mark here is free indeed.
  for (std::size_t i = 0; i < free.size(); ++i) {
    char link[fmt::kFreeLinkBytes] = {};
    EncodeInt32(link + fmt::kBlockFreeNextOffset, i + 1 < free.size() ? free[i + 1] : 0);
    EncodeInt32(link + fmt::kBlockLengthOffset, fmt::kFreeMark);
    if (!WriteFully(*io_, fd_, link, sizeof link, BlockOffset(free[i]))) return false;
  }
  now_.freeHead = free.empty() ? 0 : free.front();
  now_.freeCount = static_cast<std::int32_t>(free.size());
  return WriteFigures();
}

// The next free block (its link kept in taken_), or a new one at the end of
// the file; 0 when none can be had. Only this access's figures change.
std::int32_t BlockFile::TakeBlock() {
  if (now_.freeCount > 0) {
    TakenBlock t;
    std::int32_t b = now_.freeHead;
    if (b <= 0 || b >= now_.count || !ReadLink(b, t.link) ||
        DecodeInt32(t.link + fmt::kBlockLengthOffset) != fmt::kFreeMark)
      return 0;
    t.block = b;
    taken_.push_back(t);
    now_.freeHead = DecodeInt32(t.link + fmt::kBlockFreeNextOffset);
    if (--now_.freeCount == 0) now_.freeHead = 0;
    return b;
  }
  if (now_.count == INT32_MAX) return 0;
  return now_.count++;
}

bool BlockFile::WriteChain(std::string_view value, std::int32_t* first) {
  *first = 0;
  if (value.empty()) return true;
  const Figures start = now_;
  const std::size_t takenStart = taken_.size();
  const std::int32_t pieces = BlocksFor(value.size());
  chain_.clear();
  for (std::int32_t i = 0; i < pieces; ++i) {
    const std::size_t taken = taken_.size();
    const std::int32_t b = TakeBlock();
    if (b <= 0) {
      now_ = start;
      taken_.resize(takenStart);
      return false;
    }
    // A block from the free list comes with its old link.
    chain_.push_back({b, taken_.size() > taken ? static_cast<std::ptrdiff_t>(taken) : -1});
  }
  for (std::int32_t i = 0; i < pieces; ++i) {
    char* block = pending_.AddZeroed(BlockOffset(chain_[i].block), fmt::kBlockSize);
    // Bytes 0-3 keep the old free link: until block 0 counts the block
    // taken, the free list stays whole.
    if (chain_[i].taken >= 0) std::memcpy(block, taken_[chain_[i].taken].link, 4);
    std::size_t from = static_cast<std::size_t>(i) * fmt::kBlockPayload;
    std::size_t len = std::min<std::size_t>(fmt::kBlockPayload, value.size() - from);
    EncodeInt32(block + fmt::kBlockNextOffset, i + 1 < pieces ? chain_[i + 1].block : 0);
    EncodeInt32(block + fmt::kBlockLengthOffset, static_cast<std::int32_t>(len));
    std::memcpy(block + fmt::kBlockDataOffset, value.data() + from, len);
  }
  *first = chain_[0].block;
  return true;
}

BlockFile::PendingMark BlockFile::GetPendingMark() const {
  return {pending_.GetMark(), taken_.size(), now_.count, now_.freeHead, now_.freeCount};
}

void BlockFile::DropPendingTo(const PendingMark& mark) {
  pending_.TruncateTo(mark.writes);
  taken_.resize(mark.taken);
  now_ = {mark.count, mark.freeHead, mark.freeCount};
}

void BlockFile::DropPending() {
  pending_.Clear();
  taken_.clear();
  now_ = disk_;
}

// Gives the free blocks taken their free links back.
void BlockFile::RestoreLinks() {
  for (const TakenBlock& t : taken_) WriteFully(*io_, fd_, t.link, sizeof t.link, BlockOffset(t.block));
}

bool BlockFile::WritePending() {
  before_ = disk_;
  if (!HasPending()) return true;
  DropMapping();
  if (!pending_.WriteTo(*io_, fd_)) {
    // Block 0 never counted these blocks taken; the reused ones get their
    // free marks back.
    RestoreLinks();
    DropPending();
    return false;
  }
  pending_.Clear();
  if (!WriteFigures()) {
    RestoreLinks();
    taken_.clear();
    return false;
  }
  return true;
}

void BlockFile::UndoWritten() {
  if (fd_ < 0) return;
  // The links first: while block 0 still counts the blocks taken, a block
  // given its mark back is merely leaked.
  RestoreLinks();
  taken_.clear();
  now_ = before_;
  WriteFigures();
}

void BlockFile::FreeChains(const std::vector<std::int32_t>& firsts, const std::vector<std::uint8_t>& kept) {
  DropMapping();
  bool changed = false;
  char block[fmt::kFreeLinkBytes];
  for (std::int32_t b : firsts) {
    std::vector<std::int32_t> seen;
    while (b > 0 && b < now_.count && std::find(seen.begin(), seen.end(), b) == seen.end() &&
           (kept.empty() || (static_cast<std::size_t>(b) < kept.size() && kept[b] == 0))) {
      if (!ReadLink(b, block)) break;
      // A block that is free already stays where it is on the list.
      if (DecodeInt32(block + fmt::kBlockLengthOffset) == fmt::kFreeMark) break;
      std::int32_t next = DecodeInt32(block + fmt::kBlockNextOffset);
      char link[fmt::kFreeLinkBytes] = {};
      EncodeInt32(link + fmt::kBlockFreeNextOffset, now_.freeHead);
      EncodeInt32(link + fmt::kBlockLengthOffset, fmt::kFreeMark);
      if (!WriteFully(*io_, fd_, link, sizeof link, BlockOffset(b))) break;
      seen.push_back(b);
      now_.freeHead = b;
      now_.freeCount = std::min(now_.freeCount + 1, now_.count - 1);
      changed = true;
      b = next;
    }
  }
  if (changed) WriteFigures();
}

bool BlockFile::Stamp(std::int32_t figures[3], std::uint64_t* headerSum, struct stat* st) const {
  figures[0] = now_.count;
  figures[1] = now_.freeHead;
  figures[2] = now_.freeCount;
  if (fd_ < 0 || ::fstat(fd_, st) != 0) return false;
  char block[fmt::kBlockSize];
  if (zeroKnown_) {
    std::memcpy(block, zero_, sizeof block);
    EncodeInt32(block + fmt::kBlockCountOffset, disk_.count);
    EncodeInt32(block + fmt::kFreeHeadOffset, disk_.freeHead);
    EncodeInt32(block + fmt::kFreeCountOffset, disk_.freeCount);
  } else if (!ReadFully(*io_, fd_, block, sizeof block, 0)) {
    return false;
  }
  *headerSum = ContentSum(std::string_view(block, sizeof block));
  return true;
}

BlockReport BlockFile::CheckUses(const std::vector<std::uint8_t>& uses) {
  BlockReport r;
  r.blocks = now_.count;
  if (uses.size() != static_cast<std::size_t>(now_.count)) {
    r.problems.push_back("the chains were counted for another block count");
    return r;
  }
  std::vector<bool> free(uses.size(), false);
  auto problem = [&](std::string what) { r.problems.push_back(std::move(what)); };
  std::int32_t b = now_.freeHead;
  while (b != 0) {
    if (b < 0 || b >= now_.count) {
      problem("free list names block " + std::to_string(b) + ", outside the file");
      break;
    }
    if (free[b]) {
      problem("free list loops back to block " + std::to_string(b));
      break;
    }
    free[b] = true;
    ++r.free;
    if (uses[b] > 0) problem("block " + std::to_string(b) + " is on the free list and holds a value");
    char link[fmt::kFreeLinkBytes];
    if (!ReadLink(b, link)) {
      problem("block " + std::to_string(b) + " cannot be read");
      break;
    }
    b = DecodeInt32(link + fmt::kBlockFreeNextOffset);
  }
  if (r.free != now_.freeCount)
    problem("free list holds " + std::to_string(r.free) + " blocks, block 0 says " +
            std::to_string(now_.freeCount));
  for (std::int32_t i = 1; i < now_.count; ++i) {
    if (uses[i] > 0) ++r.used;
    if (uses[i] > 1) problem("block " + std::to_string(i) + " is reached twice through the chains");
    if (uses[i] == 0 && !free[i]) ++r.leaked;
  }
  return r;
}

}  // namespace autodeliver
