#include "store/record_table.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "store/table_format.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {

namespace fmt = table_format;

namespace {

// Largest record size and field count accepted: anything beyond is damage,
// and refusing it keeps allocations bounded.
constexpr std::int32_t kMaxRecordSize = 1 << 24;
constexpr std::int32_t kMaxFieldCount = 4096;

std::int32_t GetI32(const char* p) {
  std::uint32_t v = static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8 |
                    static_cast<unsigned char>(p[2]) << 16 |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(p[3])) << 24;
  return static_cast<std::int32_t>(v);
}

void PutI32(char* p, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint64_t GetU64(const char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return v;
}

void PutU64(char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool ReadAt(int fd, void* buf, std::size_t n, off_t offset) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t got = ::pread(fd, p, n, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

bool WriteAt(int fd, const void* buf, std::size_t n, off_t offset) {
  const auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t put = ::pwrite(fd, p, n, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
    offset += put;
  }
  return true;
}

bool SameAsciiNoCase(std::string_view a, std::string_view b) { return AsciiLower(a) == AsciiLower(b); }

// Files open in this process, by real path with ASCII letters lowered.
std::mutex& OpenFilesMutex() {
  static std::mutex m;
  return m;
}
std::set<std::string>& OpenFiles() {
  static std::set<std::string> files;
  return files;
}

std::string FormatReal(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Days since 1899-12-30 as "YYYY-MM-DD HH:MM:SS".
std::string FormatDate(double days) {
  double whole = std::floor(days);
  long long seconds = std::llround((days - whole) * 86400.0);
  long long z = static_cast<long long>(whole) - 25569 + 719468;  // days since 0000-03-01
  if (seconds >= 86400) {
    seconds -= 86400;
    ++z;
  }
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d, seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return buf;
}

// The purge journal beside a table: "WPRG", record size, index of the first
// removed record, records kept; then the kept records from that index on.
// Purge writes it whole before it rewrites the table, and a table access
// that finds a complete journal (left by a purge cut short) finishes the
// rewrite before anything else, so no record is ever lost or doubled.
constexpr char kJournalMagic[4] = {'W', 'P', 'R', 'G'};
constexpr int kJournalHeader = 16;

bool IsStoredInBlocks(std::int32_t type) { return type == fmt::kBytes || type == fmt::kLongText; }

}  // namespace

std::string TableFilePath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string_view last = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  if (!last.empty() && last.back() == '.') return path + "EDB";
  if (last.find('.') == std::string_view::npos) return path + ".EDB";
  return path;
}

std::string CompanionFilePath(const std::string& tablePath) {
  std::string path = TableFilePath(tablePath);
  std::size_t dot = path.rfind('.');
  std::string ext = path.substr(dot + 1);
  bool lower =
      !ext.empty() && std::none_of(ext.begin(), ext.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  return path.substr(0, dot + 1) + (lower ? "edt" : "EDT");
}

struct RecordTable::Impl {
  int fd = -1;
  int blockFd = -1;
  std::string key;
  std::string journalPath;  // table path + ".purge"
  std::vector<FieldInfo> fields;
  std::int32_t version = 0;
  std::int32_t recordSize = 0;
  std::int64_t dataOffset = 0;
  bool hasBlocks = false;
  std::int32_t cursor = 1;
  std::chrono::milliseconds lockWait{3000};
  bool cutOverlong = false;

  // Lock state: depth of nested accesses, and whether the lock is exclusive.
  int depth = 0;
  bool exclusive = false;
  int holds = 0;  // Hold() calls still open
  int scans = 0;  // scans running; they read in chunks

  // Valid while the lock is held.
  std::int32_t count = 0;
  std::int32_t nextId = 1;
  std::int32_t blockCount = 0;
  std::int32_t freeHead = 0;
  std::int32_t freeCount = 0;

  // Data-area cache, valid while the lock is held.
  std::vector<char> chunk;
  std::int32_t chunkFirst = 0;  // 0-based record index
  std::int32_t chunkRecords = 0;
  std::vector<char> single;
  std::int32_t singleIndex = -1;
  // Read-only mapping of the companion file for scans, valid while the lock
  // is held and dropped on every companion write.
  char* blockMap = nullptr;
  std::size_t mapBytes = 0;

  bool SetLock(short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = fmt::kRecordCountOffset;
    fl.l_len = 8;
    auto deadline = std::chrono::steady_clock::now() + lockWait;
    for (;;) {
      if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EACCES) return false;
      if (type == F_UNLCK || std::chrono::steady_clock::now() >= deadline) return false;
      // Another process holds the table; retry until the bound.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  bool ReadHeaderFigures() {
    char buf[8];
    if (!ReadAt(fd, buf, 8, fmt::kRecordCountOffset)) return false;
    count = GetI32(buf);
    nextId = GetI32(buf + 4);
    if (count < 0 || nextId <= 0) return false;
    if (hasBlocks) {
      char b[12];
      if (!ReadAt(blockFd, b, 12, fmt::kBlockCountOffset)) return false;
      blockCount = GetI32(b);
      freeHead = GetI32(b + 4);
      freeCount = GetI32(b + 8);
      if (blockCount <= 0) return false;
      if (freeHead < 0 || freeHead >= blockCount || freeCount < 0 || freeCount >= blockCount) {
        freeHead = 0;
        freeCount = 0;
      }
    }
    return true;
  }

  void DropCache() {
    chunk.clear();
    chunkRecords = 0;
    singleIndex = -1;
    DropBlockWindow();
  }

  void DropBlockWindow() {
    if (blockMap) ::munmap(blockMap, mapBytes);
    blockMap = nullptr;
    mapBytes = 0;
  }

  // The bytes of block `b` (1 <= b < blockCount), read into `scratch` when
  // they are not mapped; null on a read error. Scans read through a
  // read-only mapping of the whole blocks present, made while the lock is
  // held; single reads and blocks beyond the mapping use pread.
  const char* ReadBlock(std::int32_t b, char* scratch) {
    std::size_t at = static_cast<std::size_t>(b) * fmt::kBlockSize;
    if ((scans > 0 || holds > 0) && !blockMap) {
      struct stat st {};
      if (::fstat(blockFd, &st) == 0) {
        std::size_t whole = static_cast<std::size_t>(st.st_size) / fmt::kBlockSize * fmt::kBlockSize;
        std::size_t bytes = std::min(whole, static_cast<std::size_t>(blockCount) * fmt::kBlockSize);
        if (bytes > 0) {
          void* m = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, blockFd, 0);
          if (m != MAP_FAILED) {
            blockMap = static_cast<char*>(m);
            mapBytes = bytes;
          }
        }
      }
    }
    if (blockMap && at + fmt::kBlockSize <= mapBytes) return blockMap + at;
    return ReadAt(blockFd, scratch, fmt::kBlockSize, static_cast<off_t>(at)) ? scratch : nullptr;
  }

  // Takes (or joins) the table lock.
  bool Acquire(bool write) {
    if (fd < 0) return false;
    if (depth > 0) {
      if (write && !exclusive) {
        if (!SetLock(F_WRLCK)) return false;
        exclusive = true;
      }
      ++depth;
      return true;
    }
    if (!SetLock(write ? F_WRLCK : F_RDLCK)) return false;
    exclusive = write;
    depth = 1;
    DropCache();
    if (::access(journalPath.c_str(), F_OK) == 0) {
      // Another access was cut short inside a purge: finish it first, under
      // the exclusive lock.
      bool recovered = (exclusive || SetLock(F_WRLCK)) && RecoverJournal() && (exclusive || SetLock(F_RDLCK));
      if (!recovered) {
        Unlock();
        return false;
      }
    }
    if (!ReadHeaderFigures()) {
      Unlock();
      return false;
    }
    return true;
  }

  void Unlock() {
    depth = 0;
    exclusive = false;
    DropCache();
    SetLock(F_UNLCK);
  }

  void Leave() {
    if (depth > 0 && --depth == 0) Unlock();
  }

  bool OnRecord() const { return cursor >= 1 && cursor <= count; }
  off_t RecordOffset(std::int32_t index) const {
    return static_cast<off_t>(dataOffset + static_cast<std::int64_t>(index) * recordSize);
  }

  // The bytes of record `index` (0-based), through the cache. Null on a read
  // failure.
  const char* RecordBytes(std::int32_t index) {
    if (index >= chunkFirst && index < chunkFirst + chunkRecords)
      return chunk.data() + static_cast<std::size_t>(index - chunkFirst) * recordSize;
    if (index == singleIndex) return single.data();
    if (scans > 0 || holds > 0) {
      std::int32_t per = std::max<std::int32_t>(1, fmt::kScanChunkBytes / recordSize);
      std::int32_t n = std::min(per, count - index);
      if (n <= 0) return nullptr;
      chunk.resize(static_cast<std::size_t>(n) * recordSize);
      chunkRecords = 0;
      if (!ReadAt(fd, chunk.data(), chunk.size(), RecordOffset(index))) return nullptr;
      chunkFirst = index;
      chunkRecords = n;
      return chunk.data();
    }
    single.resize(recordSize);
    singleIndex = -1;
    if (!ReadAt(fd, single.data(), single.size(), RecordOffset(index))) return nullptr;
    singleIndex = index;
    return single.data();
  }

  // Writes bytes [from, recordSize) of record `index` and keeps the cache
  // in step.
  bool WriteRecord(std::int32_t index, const char* bytes, int from) {
    if (!WriteAt(fd, bytes + from, recordSize - from, RecordOffset(index) + from)) {
      DropCache();
      return false;
    }
    if (index >= chunkFirst && index < chunkFirst + chunkRecords)
      std::memcpy(chunk.data() + static_cast<std::size_t>(index - chunkFirst) * recordSize + from,
                  bytes + from, recordSize - from);
    if (index == singleIndex) std::memcpy(single.data() + from, bytes + from, recordSize - from);
    return true;
  }

  // ---- companion blocks

  bool WriteBlockHeader() {
    DropBlockWindow();
    char b[12];
    PutI32(b, blockCount);
    PutI32(b + 4, freeHead);
    PutI32(b + 8, freeCount);
    return WriteAt(blockFd, b, 12, fmt::kBlockCountOffset);
  }

  // Follows the chain from `first`. Fails on a block outside the file, a
  // loop, a length beyond a block's payload or a read error.
  bool ReadChain(std::int32_t first, std::string* out) {
    out->clear();
    char scratch[fmt::kBlockSize];
    std::int32_t b = first;
    std::int32_t steps = 0;
    while (b > 0) {
      if (b >= blockCount || ++steps >= blockCount) return false;
      const char* block = ReadBlock(b, scratch);
      if (!block) return false;
      std::int32_t len = GetI32(block + fmt::kBlockLengthOffset);
      if (len < 0 || len > fmt::kBlockPayload) return false;
      out->append(block + fmt::kBlockDataOffset, len);
      b = GetI32(block + fmt::kBlockNextOffset);
    }
    return true;
  }

  std::int32_t TakeBlock() {
    if (freeHead > 0 && freeHead < blockCount && freeCount > 0) {
      char next[4];
      if (ReadAt(blockFd, next, 4,
                 static_cast<off_t>(freeHead) * fmt::kBlockSize + fmt::kBlockFreeNextOffset)) {
        std::int32_t b = freeHead;
        std::int32_t n = GetI32(next);
        freeHead = (n > 0 && n < blockCount && n != b) ? n : 0;
        freeCount = freeHead == 0 ? 0 : freeCount - 1;
        return b;
      }
    }
    freeHead = 0;
    freeCount = 0;
    if (blockCount == INT32_MAX) return 0;
    return blockCount++;
  }

  // Stores `value` in a new chain; *first = 0 for an empty value. The blocks
  // and the bookkeeping are written before the caller points a record at
  // them, so a crash leaks blocks at worst.
  bool WriteChain(std::string_view value, std::int32_t* first) {
    *first = 0;
    if (value.empty()) return true;
    DropBlockWindow();
    std::size_t pieces = (value.size() + fmt::kBlockPayload - 1) / fmt::kBlockPayload;
    std::vector<std::int32_t> blocks;
    for (std::size_t i = 0; i < pieces; ++i) {
      std::int32_t b = TakeBlock();
      if (b <= 0) return false;
      blocks.push_back(b);
    }
    char block[fmt::kBlockSize];
    for (std::size_t i = 0; i < pieces; ++i) {
      std::memset(block, 0, sizeof block);
      std::size_t from = i * fmt::kBlockPayload;
      std::size_t len = std::min<std::size_t>(fmt::kBlockPayload, value.size() - from);
      PutI32(block + fmt::kBlockNextOffset, i + 1 < pieces ? blocks[i + 1] : 0);
      PutI32(block + fmt::kBlockLengthOffset, static_cast<std::int32_t>(len));
      std::memcpy(block + fmt::kBlockDataOffset, value.data() + from, len);
      if (!WriteAt(blockFd, block, sizeof block, static_cast<off_t>(blocks[i]) * fmt::kBlockSize))
        return false;
    }
    if (!WriteBlockHeader()) return false;
    *first = blocks[0];
    return true;
  }

  // Puts the blocks of the chain from `first` on the free list. A damaged
  // chain is freed as far as it is sound.
  void FreeChains(const std::vector<std::int32_t>& firsts) {
    DropBlockWindow();
    bool changed = false;
    char block[fmt::kBlockSize];
    for (std::int32_t b : firsts) {
      std::int32_t steps = 0;
      std::set<std::int32_t> seen;
      while (b > 0 && b < blockCount && ++steps < blockCount && seen.insert(b).second) {
        if (!ReadAt(blockFd, block, sizeof block, static_cast<off_t>(b) * fmt::kBlockSize)) break;
        std::int32_t next = GetI32(block + fmt::kBlockNextOffset);
        char link[8];
        PutI32(link, freeHead);
        PutI32(link + 4, 0);  // a free block ends every chain
        if (!WriteAt(blockFd, link, 8, static_cast<off_t>(b) * fmt::kBlockSize)) break;
        freeHead = b;
        freeCount = std::min(freeCount + 1, blockCount - 1);
        changed = true;
        b = next;
      }
    }
    if (changed) WriteBlockHeader();
  }

  // ---- values

  std::optional<FieldValue> Value(const char* rec, const FieldInfo& f) {
    const char* p = rec + f.offset;
    switch (f.type) {
      case fmt::kByte:
        return std::int64_t{static_cast<unsigned char>(p[0])};
      case fmt::kShort:
        return std::int64_t{static_cast<std::int16_t>(GetI32(p) & 0xFFFF)};
      case fmt::kInt32:
      case fmt::kRoutine:
        return std::int64_t{GetI32(p)};
      case fmt::kInt64:
        return static_cast<std::int64_t>(GetU64(p));
      case fmt::kFloat: {
        std::uint32_t bits = static_cast<std::uint32_t>(GetI32(p));
        float v;
        std::memcpy(&v, &bits, 4);
        return double{v};
      }
      case fmt::kDouble:
      case fmt::kDateTime: {
        std::uint64_t bits = GetU64(p);
        double v;
        std::memcpy(&v, &bits, 8);
        if (f.type == fmt::kDateTime) v = std::isnan(v) ? 0.0 : std::clamp(v, fmt::kMinDate, fmt::kMaxDate);
        return v;
      }
      case fmt::kBoolean:
        return p[0] != 0;
      case fmt::kFixedText: {
        const void* zero = std::memchr(p, 0, f.width);
        std::size_t len = zero ? static_cast<const char*>(zero) - p : static_cast<std::size_t>(f.width);
        return std::string(p, len);
      }
      case fmt::kBytes:
      case fmt::kLongText: {
        std::string out;
        if (!ReadChain(GetI32(p), &out)) return std::nullopt;
        if (f.type == fmt::kLongText) {
          std::size_t zero = out.find('\0');
          if (zero != std::string::npos) out.resize(zero);
        }
        return out;
      }
      default:
        return std::nullopt;
    }
  }

  // Converts `text` into the field's bytes in `rec`. Chains are written
  // here; `oldChain` gets the chain the field held before (0 if none).
  bool Put(char* rec, const FieldInfo& f, const std::string& text, std::int32_t* oldChain) {
    char* p = rec + f.offset;
    switch (f.type) {
      case fmt::kByte:
        p[0] = static_cast<char>(TextToInt(text));
        return true;
      case fmt::kShort: {
        int v = TextToInt(text);
        p[0] = static_cast<char>(v & 0xFF);
        p[1] = static_cast<char>((v >> 8) & 0xFF);
        return true;
      }
      case fmt::kInt32:
      case fmt::kRoutine:
        PutI32(p, TextToInt(text));
        return true;
      case fmt::kInt64:
        PutU64(p, static_cast<std::uint64_t>(std::strtoll(FoldFullWidth(text).c_str(), nullptr, 10)));
        return true;
      case fmt::kFloat: {
        float v = std::strtof(FoldFullWidth(text).c_str(), nullptr);
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        PutI32(p, static_cast<std::int32_t>(bits));
        return true;
      }
      case fmt::kDouble:
      case fmt::kDateTime: {
        double v = std::strtod(FoldFullWidth(text).c_str(), nullptr);
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        PutU64(p, bits);
        return true;
      }
      case fmt::kBoolean: {
        static const std::string kTrue = "真"_gbk, kYes = "是"_gbk;
        p[0] = (text == kTrue || text == kYes || TextToInt(text) != 0) ? 1 : 0;
        return true;
      }
      case fmt::kFixedText: {
        std::size_t len = std::min<std::size_t>(text.size(), f.width);
        std::memcpy(p, text.data(), len);
        if (len < static_cast<std::size_t>(f.width)) p[len] = 0;
        return true;
      }
      case fmt::kBytes:
      case fmt::kLongText: {
        std::int32_t first = 0;
        if (!WriteChain(text, &first)) return false;
        *oldChain = GetI32(p);
        PutI32(p, first);
        return true;
      }
      default:
        return false;
    }
  }

  // Checks fixed-width texts against their widths before anything is
  // written.
  bool Fits(const FieldValues& values) const {
    if (cutOverlong) return true;
    for (std::size_t i = 0; i < values.size() && i < fields.size(); ++i)
      if (values[i] && fields[i].type == fmt::kFixedText &&
          values[i]->size() > static_cast<std::size_t>(fields[i].width))
        return false;
    return true;
  }

  // Fills `rec` with `values`; the chains replaced go to `oldChains`.
  bool PutAll(char* rec, const FieldValues& values, std::vector<std::int32_t>* oldChains) {
    for (std::size_t i = 0; i < values.size() && i < fields.size(); ++i) {
      if (!values[i]) continue;
      std::int32_t old = 0;
      if (!Put(rec, fields[i], *values[i], &old)) return false;
      if (old > 0) oldChains->push_back(old);
    }
    return true;
  }

  bool ApplyJournal(int journal);
  bool RecoverJournal();
  bool CheckAndAdjust(std::string* why);
  bool OpenBlocks(const std::string& tablePath);
};

// Scoped table access: joins or takes the lock, leaves it at the end.
class Access {
 public:
  Access(RecordTable::Impl* impl, bool write) : impl_(impl), ok_(impl->Acquire(write)) {}
  ~Access() {
    if (ok_) impl_->Leave();
  }
  explicit operator bool() const { return ok_; }

 private:
  RecordTable::Impl* impl_;
  bool ok_;
};

// Scans read the data area in chunks while they run.
class ScanScope {
 public:
  explicit ScanScope(RecordTable::Impl* impl) : impl_(impl) { ++impl_->scans; }
  ~ScanScope() { --impl_->scans; }

 private:
  RecordTable::Impl* impl_;
};

// Copies the journal's records into the table, sets the count and cuts the
// file. Writing the same bytes twice gives the same table, so a journal
// applied once already may be applied again.
bool RecordTable::Impl::ApplyJournal(int journal) {
  char header[kJournalHeader];
  struct stat st {};
  if (!ReadAt(journal, header, sizeof header, 0) || ::fstat(journal, &st) != 0) return false;
  if (std::memcmp(header, kJournalMagic, 4) != 0 || GetI32(header + 4) != recordSize) return false;
  std::int32_t from = GetI32(header + 8);
  std::int32_t kept = GetI32(header + 12);
  if (from < 0 || kept < from ||
      st.st_size != kJournalHeader + static_cast<std::int64_t>(kept - from) * recordSize)
    return false;
  DropCache();
  std::int32_t per = std::max<std::int32_t>(1, fmt::kScanChunkBytes / recordSize);
  std::vector<char> buf;
  for (std::int32_t done = 0; done < kept - from; done += per) {
    std::int32_t n = std::min(per, kept - from - done);
    buf.resize(static_cast<std::size_t>(n) * recordSize);
    if (!ReadAt(journal, buf.data(), buf.size(), kJournalHeader + static_cast<off_t>(done) * recordSize) ||
        !WriteAt(fd, buf.data(), buf.size(), RecordOffset(from + done)))
      return false;
  }
  char b[4];
  PutI32(b, kept);
  if (!WriteAt(fd, b, 4, fmt::kRecordCountOffset)) return false;
  count = kept;
  return ::ftruncate(fd, RecordOffset(kept)) == 0;
}

// Finishes a purge that was cut short; the caller holds the exclusive lock.
// An incomplete journal is dropped: the table was not touched.
bool RecordTable::Impl::RecoverJournal() {
  int journal = ::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (journal < 0) return errno == ENOENT;
  char magic[4] = {};
  bool complete = ReadAt(journal, magic, 4, 0) && std::memcmp(magic, kJournalMagic, 4) == 0;
  bool ok = !complete || ApplyJournal(journal);
  ::close(journal);
  if (ok) ::unlink(journalPath.c_str());
  return ok;
}

bool RecordTable::Impl::CheckAndAdjust(std::string* why) {
  char header[fmt::kHeaderSize + 4];
  if (!ReadAt(fd, header, sizeof header, 0)) return false;
  if (std::memcmp(header, fmt::kTableMagic, 4) != 0) return false;
  version = GetI32(header + fmt::kVersionOffset);
  recordSize = GetI32(header + fmt::kRecordSizeOffset);
  count = GetI32(header + fmt::kRecordCountOffset);
  nextId = GetI32(header + fmt::kNextIdOffset);
  if (version > fmt::kVersion || recordSize < fmt::kIdSize || recordSize > kMaxRecordSize || count < 0 ||
      nextId <= 0)
    return false;
  std::int32_t n = GetI32(header + fmt::kFieldCountOffset);
  if (n <= 0 || n > kMaxFieldCount) return false;
  std::vector<char> desc(static_cast<std::size_t>(n) * fmt::kDescriptorSize);
  if (!ReadAt(fd, desc.data(), desc.size(), fmt::kDescriptorsOffset)) return false;
  fields.clear();
  for (std::int32_t i = 0; i < n; ++i) {
    const char* d = desc.data() + static_cast<std::size_t>(i) * fmt::kDescriptorSize;
    const void* zero = std::memchr(d, 0, fmt::kNameSize);
    if (!zero) return false;
    FieldInfo f;
    f.name.assign(d, static_cast<const char*>(zero) - d);
    f.type = GetI32(d + fmt::kTypeOffset);
    f.offset = GetI32(d + fmt::kFieldOffsetOffset);
    f.width = GetI32(d + fmt::kWidthOffset);
    if (f.offset < 0 || f.type < fmt::kByte || f.type > fmt::kLongText) return false;
    if (f.type == fmt::kFixedText && f.width <= 0) return false;
    if (f.type != fmt::kFixedText) f.width = 0;
    // A field must lie inside the record and behind the id; anything else
    // would read or overwrite bytes that are not the field's.
    std::int64_t end = static_cast<std::int64_t>(f.offset) + fmt::FieldBytes(f.type, f.width);
    if (f.offset < fmt::kIdSize || end > recordSize) return false;
    if (IsStoredInBlocks(f.type)) hasBlocks = true;
    fields.push_back(std::move(f));
  }
  dataOffset = fmt::kDescriptorsOffset + static_cast<std::int64_t>(n) * fmt::kDescriptorSize;
  if (!RecoverJournal()) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  std::int64_t whole = (st.st_size - dataOffset) / recordSize;
  if (whole < count) {
    // The header names records that were never written whole.
    count = static_cast<std::int32_t>(whole);
    char b[4];
    PutI32(b, count);
    if (!WriteAt(fd, b, 4, fmt::kRecordCountOffset)) return false;
  }
  std::int64_t wanted = dataOffset + static_cast<std::int64_t>(count) * recordSize;
  if (st.st_size > wanted && ::ftruncate(fd, wanted) != 0) return false;
  return true;
}

bool RecordTable::Impl::OpenBlocks(const std::string& tablePath) {
  std::string path = CompanionFilePath(tablePath);
  blockFd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (blockFd < 0 && errno == ENOENT) {
    // Files copied from a case-blind file system may carry the other case.
    std::string other = path;
    for (std::size_t i = path.size() - 3; i < path.size(); ++i) other[i] = static_cast<char>(other[i] ^ 0x20);
    blockFd = ::open(other.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (blockFd < 0) return false;
  char b[28];
  if (!ReadAt(blockFd, b, sizeof b, 0)) return false;
  if (std::memcmp(b, fmt::kBlockMagic, 4) != 0 || GetI32(b + fmt::kVersionOffset) != version) return false;
  blockCount = GetI32(b + fmt::kBlockCountOffset);
  freeHead = GetI32(b + fmt::kFreeHeadOffset);
  freeCount = GetI32(b + fmt::kFreeCountOffset);
  if (blockCount <= 0 || freeHead < 0 || freeHead >= blockCount || freeCount < 0 || freeCount >= blockCount)
    return false;
  struct stat st {};
  if (::fstat(blockFd, &st) != 0) return false;
  std::int64_t whole = st.st_size / fmt::kBlockSize;
  if (whole < blockCount) {
    blockCount = static_cast<std::int32_t>(whole);
    if (freeHead >= blockCount || freeCount >= blockCount) {
      // The free list may name blocks that are gone: forget it.
      freeHead = 0;
      freeCount = 0;
    }
    if (!WriteBlockHeader()) return false;
  }
  return true;
}

RecordTable::RecordTable() : impl_(new Impl) {}

RecordTable::~RecordTable() {
  Close();
  delete impl_;
}

bool RecordTable::Open(const std::string& path) {
  if (IsOpen() || path.empty()) return false;
  std::string file = TableFilePath(path);
  char real[PATH_MAX];
  if (!::realpath(file.c_str(), real)) return false;
  std::string key = AsciiLower(real);
  {
    std::lock_guard<std::mutex> lock(OpenFilesMutex());
    if (!OpenFiles().insert(key).second) return false;
  }
  Impl& t = *impl_;
  t.key = key;
  t.journalPath = std::string(real) + ".purge";
  t.hasBlocks = false;
  t.fd = ::open(real, O_RDWR | O_CLOEXEC);
  bool ok = false;
  if (t.fd >= 0) {
    struct stat st {};
    if (::fstat(t.fd, &st) == 0 && S_ISREG(st.st_mode) && t.SetLock(F_WRLCK)) {
      ok = t.CheckAndAdjust(nullptr) && (!t.hasBlocks || t.OpenBlocks(real));
      t.SetLock(F_UNLCK);
    }
  }
  if (!ok) {
    Close();
    return false;
  }
  t.cursor = 1;
  return true;
}

void RecordTable::Close() {
  Impl& t = *impl_;
  if (t.depth > 0 && t.fd >= 0) t.Unlock();
  t.depth = 0;
  t.holds = 0;
  t.scans = 0;
  t.DropCache();
  if (t.blockFd >= 0) ::close(t.blockFd);
  if (t.fd >= 0) ::close(t.fd);
  t.blockFd = -1;
  t.fd = -1;
  if (!t.key.empty()) {
    std::lock_guard<std::mutex> lock(OpenFilesMutex());
    OpenFiles().erase(t.key);
    t.key.clear();
  }
  t.fields.clear();
}

bool RecordTable::IsOpen() const { return impl_->fd >= 0; }

void RecordTable::SetLockWait(std::chrono::milliseconds wait) { impl_->lockWait = wait; }

void RecordTable::SetCutOverlongText(bool cut) { impl_->cutOverlong = cut; }

bool RecordTable::Hold(bool write) {
  if (!impl_->Acquire(write)) return false;
  ++impl_->holds;
  return true;
}

void RecordTable::Release() {
  if (impl_->holds == 0) return;
  --impl_->holds;
  impl_->Leave();
}

const std::vector<FieldInfo>& RecordTable::Fields() const { return impl_->fields; }

int RecordTable::FieldIndex(std::string_view name) const {
  const auto& fields = impl_->fields;
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name.size() == name.size() && SameAsciiNoCase(fields[i].name, name))
      return static_cast<int>(i);
  return -1;
}

std::int32_t RecordTable::RecordCount() {
  Access a(impl_, false);
  return a ? impl_->count : 0;
}

std::int32_t RecordTable::NextRecordId() {
  Access a(impl_, false);
  return a ? impl_->nextId : 0;
}

std::int32_t RecordTable::RecordSize() const { return impl_->recordSize; }
std::int32_t RecordTable::Version() const { return impl_->version; }

bool RecordTable::GoTo(std::int32_t recordNumber) {
  Access a(impl_, false);
  if (!a || impl_->count == 0) return false;
  impl_->cursor = std::clamp(recordNumber, 1, impl_->count);
  return true;
}

bool RecordTable::Skip(std::int32_t count) {
  Access a(impl_, false);
  Impl& t = *impl_;
  if (!a || t.count == 0) return false;
  if (count > 0 && t.cursor > t.count) return false;
  if (count < 0 && t.cursor < 1) return false;
  std::int64_t to = static_cast<std::int64_t>(t.cursor) + count;
  t.cursor =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(to, 0, static_cast<std::int64_t>(t.count) + 1));
  return true;
}

std::int32_t RecordTable::RecordNumber() const { return impl_->cursor; }

bool RecordTable::OnRecord() {
  Access a(impl_, false);
  return a && impl_->OnRecord();
}

std::int32_t RecordTable::RecordId() {
  Access a(impl_, false);
  if (!a || !impl_->OnRecord()) return 0;
  const char* rec = impl_->RecordBytes(impl_->cursor - 1);
  return rec ? GetI32(rec) : 0;
}

bool RecordTable::IsMarked() { return RecordId() <= 0 && OnRecord(); }

std::optional<FieldValue> RecordTable::ReadValue(int fieldIndex) {
  Access a(impl_, false);
  Impl& t = *impl_;
  if (!a || !t.OnRecord() || fieldIndex < 0 || fieldIndex >= static_cast<int>(t.fields.size()))
    return std::nullopt;
  const char* rec = t.RecordBytes(t.cursor - 1);
  if (!rec) return std::nullopt;
  return t.Value(rec, t.fields[fieldIndex]);
}

std::optional<std::string> RecordTable::ReadTextAt(int fieldIndex) {
  std::optional<FieldValue> v = ReadValue(fieldIndex);
  if (!v) return std::nullopt;
  if (auto* s = std::get_if<std::string>(&*v)) return std::move(*s);
  if (auto* i = std::get_if<std::int64_t>(&*v)) return std::to_string(*i);
  if (auto* b = std::get_if<bool>(&*v)) return *b ? "真"_gbk : "假"_gbk;
  double d = std::get<double>(*v);
  if (impl_->fields[fieldIndex].type == table_format::kDateTime) return FormatDate(d);
  return FormatReal(d);
}

std::optional<std::string> RecordTable::ReadText(std::string_view field) {
  return ReadTextAt(FieldIndex(field));
}

std::string RecordTable::Read(std::string_view field) { return ReadText(field).value_or(std::string()); }

bool RecordTable::Append(const FieldValues& values) {
  Access a(impl_, true);
  Impl& t = *impl_;
  if (!a || !t.Fits(values) || t.nextId == INT32_MAX || t.count == INT32_MAX) return false;
  std::vector<char> rec(t.recordSize, 0);
  PutI32(rec.data(), t.nextId);
  std::vector<std::int32_t> unused;
  if (!t.PutAll(rec.data(), values, &unused)) return false;
  // The record first, then the count: an interrupted append leaves bytes
  // behind the last counted record, which the next Open cuts off.
  if (!WriteAt(t.fd, rec.data(), rec.size(), t.RecordOffset(t.count))) return false;
  char figures[8];
  PutI32(figures, t.count + 1);
  PutI32(figures + 4, t.nextId + 1);
  if (!WriteAt(t.fd, figures, 8, table_format::kRecordCountOffset)) return false;
  ++t.count;
  ++t.nextId;
  t.cursor = t.count;
  return true;
}

bool RecordTable::Modify(const FieldValues& values) {
  Access a(impl_, true);
  Impl& t = *impl_;
  if (!a || !t.OnRecord() || !t.Fits(values)) return false;
  const char* current = t.RecordBytes(t.cursor - 1);
  if (!current) return false;
  std::vector<char> rec(current, current + t.recordSize);
  std::vector<std::int32_t> oldChains;
  if (!t.PutAll(rec.data(), values, &oldChains)) return false;
  if (!t.WriteRecord(t.cursor - 1, rec.data(), table_format::kIdSize)) return false;
  // The record no longer points at the old chains: free them.
  t.FreeChains(oldChains);
  return true;
}

bool RecordTable::MarkDeleted() {
  Access a(impl_, true);
  Impl& t = *impl_;
  if (!a || !t.OnRecord()) return false;
  const char* current = t.RecordBytes(t.cursor - 1);
  if (!current) return false;
  std::int32_t id = GetI32(current);
  if (id <= 0) return true;
  char b[4];
  PutI32(b, -id);
  if (!WriteAt(t.fd, b, 4, t.RecordOffset(t.cursor - 1))) return false;
  std::int32_t index = t.cursor - 1;
  if (index >= t.chunkFirst && index < t.chunkFirst + t.chunkRecords)
    PutI32(t.chunk.data() + static_cast<std::size_t>(index - t.chunkFirst) * t.recordSize, -id);
  if (index == t.singleIndex) PutI32(t.single.data(), -id);
  return true;
}

bool RecordTable::MarkDeletedWhere(const Predicate& pred) {
  Access a(impl_, true);
  if (!a) return false;
  ScanScope scan(impl_);
  Impl& t = *impl_;
  std::int32_t saved = t.cursor;
  bool ok = true;
  for (std::int32_t i = 1; i <= t.count; ++i) {
    t.cursor = i;
    if (pred(*this) && !MarkDeleted()) ok = false;
  }
  t.cursor = saved;
  return ok;
}

bool RecordTable::Find(const Predicate& pred) {
  Access a(impl_, false);
  if (!a) return false;
  ScanScope scan(impl_);
  Impl& t = *impl_;
  std::int32_t saved = t.cursor;
  for (std::int32_t i = std::max(1, t.cursor); i <= t.count; ++i) {
    t.cursor = i;
    if (pred(*this)) return true;
  }
  t.cursor = saved;
  return false;
}

bool RecordTable::Purge() {
  Access a(impl_, true);
  if (!a) return false;
  Impl& t = *impl_;
  t.DropCache();
  std::vector<int> chainFields;
  for (std::size_t i = 0; i < t.fields.size(); ++i)
    if (IsStoredInBlocks(t.fields[i].type)) chainFields.push_back(static_cast<int>(i));
  std::int32_t per = std::max<std::int32_t>(1, table_format::kScanChunkBytes / t.recordSize);
  std::vector<char> buf;
  std::vector<std::int32_t> freed;
  std::int32_t kept = 0;
  std::int32_t from = -1;  // index of the first removed record
  int journal = -1;
  off_t journalEnd = kJournalHeader;
  bool ok = true;
  // Pass 1: the kept records from the first removed one on go to the
  // journal; the table is not touched yet.
  for (std::int32_t first = 0; first < t.count && ok; first += per) {
    std::int32_t n = std::min(per, t.count - first);
    buf.resize(static_cast<std::size_t>(n) * t.recordSize);
    if (!ReadAt(t.fd, buf.data(), buf.size(), t.RecordOffset(first))) {
      ok = false;
      break;
    }
    std::int32_t out = 0;
    for (std::int32_t i = 0; i < n; ++i) {
      char* rec = buf.data() + static_cast<std::size_t>(i) * t.recordSize;
      if (GetI32(rec) > 0) {
        if (from >= 0) {
          if (out != i)
            std::memmove(buf.data() + static_cast<std::size_t>(out) * t.recordSize, rec, t.recordSize);
          ++out;
        }
        ++kept;
        continue;
      }
      if (from < 0) {
        from = first + i;
        journal = ::open(t.journalPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (journal < 0) {
          ok = false;
          break;
        }
      }
      for (int f : chainFields) {
        std::int32_t b = GetI32(rec + t.fields[f].offset);
        if (b > 0) freed.push_back(b);
      }
    }
    if (ok && out > 0) {
      std::size_t bytes = static_cast<std::size_t>(out) * t.recordSize;
      ok = WriteAt(journal, buf.data(), bytes, journalEnd);
      journalEnd += static_cast<off_t>(bytes);
    }
  }
  bool complete = false;
  if (ok && from >= 0) {
    // The header, magic included, goes last: a journal without it was never
    // complete and the table was never touched.
    char header[kJournalHeader] = {};
    std::memcpy(header, kJournalMagic, 4);
    PutI32(header + 4, t.recordSize);
    PutI32(header + 8, from);
    PutI32(header + 12, kept);
    complete = WriteAt(journal, header, sizeof header, 0);
    ok = complete && t.ApplyJournal(journal);
  }
  if (journal >= 0) {
    ::close(journal);
    // A complete journal that could not be applied stays, so that the next
    // access finishes the rewrite; any other journal has done its work.
    if (ok || !complete) ::unlink(t.journalPath.c_str());
  }
  if (!ok) {
    t.DropCache();
    return false;
  }
  // The removed records are gone from the file: their blocks are free.
  if (!freed.empty()) t.FreeChains(freed);
  t.DropCache();
  t.cursor = 1;
  return true;
}

bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields) {
  if (fields.empty() || static_cast<std::int32_t>(fields.size()) > kMaxFieldCount) return false;
  std::int64_t offset = table_format::kIdSize;
  std::vector<char> desc(fields.size() * table_format::kDescriptorSize, 0);
  bool blocks = false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = fields[i];
    if (f.name.empty() || f.name.size() > table_format::kMaxNameBytes ||
        f.name.find('\0') != std::string::npos || f.type < table_format::kByte ||
        f.type > table_format::kLongText || (f.type == table_format::kFixedText && f.width <= 0))
      return false;
    char* d = desc.data() + i * table_format::kDescriptorSize;
    std::memcpy(d, f.name.data(), f.name.size());
    std::int32_t width = f.type == table_format::kFixedText ? f.width : 0;
    PutI32(d + table_format::kTypeOffset, f.type);
    PutI32(d + table_format::kFieldOffsetOffset, static_cast<std::int32_t>(offset));
    PutI32(d + table_format::kWidthOffset, width);
    offset += table_format::FieldBytes(f.type, width);
    if (offset > kMaxRecordSize) return false;
    if (IsStoredInBlocks(f.type)) blocks = true;
  }
  char header[table_format::kHeaderSize + 4] = {};
  std::memcpy(header, table_format::kTableMagic, 4);
  PutI32(header + table_format::kVersionOffset, table_format::kVersion);
  PutI32(header + table_format::kRecordCountOffset, 0);
  PutI32(header + table_format::kNextIdOffset, 1);
  PutI32(header + table_format::kRecordSizeOffset, static_cast<std::int32_t>(offset));
  PutI32(header + table_format::kFieldCountOffset, static_cast<std::int32_t>(fields.size()));
  std::string file = TableFilePath(path);
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAt(fd, header, sizeof header, 0) && WriteAt(fd, desc.data(), desc.size(), sizeof header);
  ::close(fd);
  if (ok && blocks) {
    char block0[table_format::kBlockSize] = {};
    std::memcpy(block0, table_format::kBlockMagic, 4);
    PutI32(block0 + table_format::kVersionOffset, table_format::kVersion);
    PutI32(block0 + table_format::kBlockCountOffset, 1);
    int bfd = ::open(CompanionFilePath(file).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ok = bfd >= 0 && WriteAt(bfd, block0, sizeof block0, 0);
    if (bfd >= 0) ::close(bfd);
  }
  if (!ok) ::unlink(file.c_str());
  return ok;
}

}  // namespace autodeliver
