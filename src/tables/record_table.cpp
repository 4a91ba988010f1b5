// RecordTable: the cursor, the lock and the public operations. The parts it
// builds on own their state: table_header (header and field list),
// field_codec (values), block_file (companion file), purge_journal (purge).
#include "tables/record_table.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "base/mutex.h"
#include "io/coding.h"
#include "tables/block_file.h"
#include "tables/data_area.h"
#include "tables/field_codec.h"
#include "tables/pending_writes.h"
#include "tables/purge_journal.h"
#include "tables/sound_tables.h"
#include "tables/table_format.h"
#include "tables/table_header.h"
#include "tables/table_lock.h"
#include "text/gbk.h"

namespace autodeliver {

namespace fmt = table_format;

struct RecordTable::Impl {
  using HoldCheck = RecordTable::HoldCheck;
  // Every call goes through the watch, which keeps the first that failed
  // in an operation: its errno and file are the operation's cause.
  FailureWatch watch;
  FileIo* io = &watch;
  FileIo* nextIo = &DefaultFileIo();  // for the next Open
  SoundTables* soundTables = &DefaultSoundTables();
  int fd = -1;
  std::string path;  // the table file's real path, for causes
  std::string key;
  // A cause that no failed call gives (a lock held elsewhere, a value too
  // long), kept until the operation reports it.
  Status cause;
  std::string journalPath;  // table path + ".purge"
  TableHeader header;       // fields and geometry; the figures below are live
  BlockFile blocks;
  std::int32_t cursor = 1;
  bool cutOverlong = true;
  TableLock lock;
  int holds = 0;  // Hold() calls still open
  int scans = 0;  // scans running; they read in chunks

  // Valid while the lock is held. The figures include the appends pending.
  std::int32_t count = 0;
  std::int32_t nextId = 1;
  RecordCache cache;

  // Appended records not yet written (the last pendingCount of count), with
  // their chains pending in `blocks`.
  PendingWrites pendingRecords;
  std::int32_t pendingCount = 0;
  bool bufferAppends = false;  // SetBufferedAppends
  // A write of pending appends that the caller did not ask for (before a
  // read, past the bound) failed; the next Flush or Release tells it.
  bool flushFailed = false;
  Status flushCause;  // why it failed
  // No two chains of the table share a block, and no block on the free list
  // holds a value (as BlockFile::Check finds it): known from a walk in this
  // access, or from the stamp the table kept since an earlier one.
  bool sound = false;
  // Whether `sound` was worked out in this access. It is worked out when
  // first needed (a chain to free, a write: see Sound()), so that an access
  // that frees nothing pays no look at the files for it.
  bool soundKnown = false;
  // The table was written in this access (its stamp is taken again).
  bool wrote = false;
  // The header and the field descriptors as the last access read them, the
  // figures (record count, next id) as this process left them.
  std::string head;
  // The table file's fstat, taken once per access and again after a write.
  struct stat fileStat {};
  bool fileStatKnown = false;
  // SetKeptOpen: the file is claimed only while its lock is held.
  bool keptOpen = false;
  // The figures, header and block 0 this table holds are those of the file:
  // its last full look and every access since went through without a
  // failure (a hold that trusts them, HoldCheck::kUnchanged, needs that).
  bool clean = false;
  bool claimed = false;
  // Chains no record points at any more, freed before the lock goes (one
  // walk of the chains for all of them, in a table not known sound).
  std::vector<std::int32_t> unfreed;
  std::vector<char> newRecord;  // Append's record, kept for its memory

  const std::vector<FieldInfo>& fields() const { return header.fields; }
  std::int32_t recordSize() const { return header.recordSize; }
  DataArea Area() const { return {fd, header.dataOffset, header.recordSize}; }
  off_t RecordOffset(std::int32_t index) const { return Area().RecordOffset(index); }
  bool OnRecord() const { return cursor >= 1 && cursor <= count; }
  // Scans read in chunks, and so does a held access once it reads forward
  // a little past the record it read last (a walk over the table, or over
  // one item's cards); a lone record (a lookup by position) is read alone,
  // whatever the table's size.
  static constexpr std::int32_t kWalkStride = 64;
  bool walking = false;
  std::int32_t lastRead = -1;
  bool Batched() const { return scans > 0 || (holds > 0 && walking); }
  bool Buffering() const { return bufferAppends && holds > 0 && lock.exclusive(); }

  // Takes (or joins) the table lock; an access that takes it afresh first
  // finishes a purge cut short, then reads the header once: the figures,
  // and the change check against the header the last access read. A table
  // kept open also looks at its file (one fstat): a file replaced or removed
  // since is no longer the table at its path.
  bool Acquire(bool write, HoldCheck check = HoldCheck::kFull) {
    bool first = false;
    if (fd < 0) {
      Note(Status::IoError(path, EBADF));
      return false;
    }
    if (keptOpen && !lock.held()) {
      if (!ClaimTableFile(key)) {
        Note(Status::Busy(path, "the table is in use elsewhere in this program"));
        return false;
      }
      claimed = true;
    }
    errno = 0;
    if (!lock.Enter(write, &first, check == HoldCheck::kFull)) {
      const int e = errno;
      Note(e == EAGAIN || e == EACCES || e == 0 ? Status::Busy(path, "locked by another program")
                                                : Status::FromErrno(path, e));
      if (keptOpen && !lock.held()) Unclaim();
      return false;
    }
    if (!first) return true;
    DropCache();
    // A lookup in this access is not a walk on from the last access's.
    lastRead = -1;
    walking = false;
    wrote = false;
    sound = soundKnown = false;
    // Nothing changed since the last access: its figures, header, block 0
    // and file stat stand.
    if (check == HoldCheck::kUnchanged && clean) return true;
    clean = false;
    fileStatKnown = false;
    bool ok = true;
    if (::access(journalPath.c_str(), F_OK) == 0) {
      bool shared = !lock.exclusive();
      Wrote();
      ok = (!shared || lock.Set(true)) && RecoverPurgeJournal(*io, journalPath, Area(), &count) &&
           (!shared || lock.Set(false));
    }
    ok = ok && ReadHead() && (!header.hasBlocks || blocks.Refresh());
    if (ok && keptOpen) {
      ok = StatFile();
      if (ok && fileStat.st_nlink == 0) {
        Note(Status::NotFound(path, "the table file was replaced or removed"));
        ok = false;
      }
    }
    if (!ok) {
      Unlock();
      return false;
    }
    clean = true;
    return true;
  }

  void Unclaim() {
    if (!claimed) return;
    UnclaimTableFile(key);
    claimed = false;
  }

  // Reads the header and the field descriptors in one read: the figures,
  // and whether anything else of them changed since the last access (the
  // table was rebuilt in another layout under its name): the fields this
  // table knows would then be wrong, so the access fails.
  bool ReadHead() {
    std::string now(head.size(), '\0');
    if (!ReadFully(*io, fd, now.data(), now.size(), 0)) return false;
    if (now.compare(0, fmt::kRecordCountOffset, head, 0, fmt::kRecordCountOffset) != 0 ||
        now.compare(fmt::kRecordSizeOffset, std::string::npos, head, fmt::kRecordSizeOffset) != 0) {
      Note(Status::NotFound(path, "the table file was rebuilt with other fields"));
      return false;
    }
    head = std::move(now);
    count = DecodeInt32(head.data() + fmt::kRecordCountOffset);
    nextId = DecodeInt32(head.data() + fmt::kNextIdOffset);
    return count >= 0 && nextId > 0;
  }

  // A write of the table in this access: its file figures are taken again.
  void Wrote() {
    wrote = true;
    fileStatKnown = false;
  }

  bool StatFile() {
    if (!fileStatKnown && ::fstat(fd, &fileStat) == 0) fileStatKnown = true;
    return fileStatKnown;
  }

  bool StampNow(TableStamp* s) {
    struct stat companion {};
    if (!StatFile() || !blocks.Stamp(s->figures, &s->headerSum[1], &companion)) return false;
    // The header as the disk holds it: the bytes read by this access with
    // the figures it wrote since.
    std::string bytes = head;
    EncodeInt32(bytes.data() + fmt::kRecordCountOffset, count - pendingCount);
    EncodeInt32(bytes.data() + fmt::kNextIdOffset, nextId - pendingCount);
    s->headerSum[0] = ContentSum(bytes);
    s->count = count;
    s->nextId = nextId;
    const struct stat* st[2] = {&fileStat, &companion};
    for (int i = 0; i < 2; ++i) {
      s->dev[i] = st[i]->st_dev;
      s->ino[i] = st[i]->st_ino;
      s->size[i] = st[i]->st_size;
      s->changed[i] = st[i]->st_mtim;
    }
    return true;
  }

  // Whether the table is known sound in this access: from a walk made in
  // it, or from the stamp it kept since an earlier access, compared before
  // this access writes anything (after a write the stamp no longer
  // matches, and the table then counts as not known sound).
  bool Sound() {
    if (soundKnown) return sound;
    soundKnown = true;
    sound = false;
    if (!header.hasBlocks) return false;
    if (!soundTables->Has(key)) return false;
    TableStamp now;
    if (wrote || !StampNow(&now)) return false;
    sound = soundTables->Matches(key, now);
    return sound;
  }

  // Before a write: whether the table was sound is settled while its stamp
  // can still tell.
  void BeforeWrite() {
    Sound();
    Wrote();
  }

  // Before the lock goes: keeps the table's stamp while it is known sound.
  // An access that neither wrote nor learnt anything leaves the kept stamp
  // as it is.
  void NoteSoundness() {
    if (!header.hasBlocks || (!soundKnown && !wrote)) return;
    TableStamp now;
    const bool keep = soundKnown && sound && pendingCount == 0 && StampNow(&now);
    if (keep)
      soundTables->Keep(key, now);
    else
      soundTables->Forget(key);
  }

  // Frees the chains from `firsts`, which no record points at any more. In a
  // table not known sound, a block that another record's chain still
  // reaches stays (a damaged file may share blocks between records); when
  // the chains cannot be read, nothing is freed: leaked blocks cost room,
  // freed used ones cost values.
  void FreeUnreached(std::vector<std::int32_t> firsts) {
    firsts.insert(firsts.end(), unfreed.begin(), unfreed.end());
    unfreed.clear();
    if (firsts.empty()) return;
    if (Sound()) {
      blocks.FreeChains(firsts);
      return;
    }
    std::optional<std::vector<std::int32_t>> heads = ChainHeads();
    if (!heads) return;
    const std::vector<std::uint8_t> uses = blocks.UseCounts(*heads);
    blocks.FreeChains(firsts, uses);
    sound = blocks.CheckUses(uses).problems.empty();
    soundKnown = true;
  }

  // The same, put off to the end of the access unless the table is known
  // sound, so that a run of rewrites walks the chains once.
  void FreeLater(const std::vector<std::int32_t>& firsts) {
    if (Sound())
      blocks.FreeChains(firsts);
    else
      unfreed.insert(unfreed.end(), firsts.begin(), firsts.end());
  }

  // Before the lock goes.
  void Settle() {
    if (!unfreed.empty()) FreeUnreached({});
    NoteSoundness();
  }

  void Unlock() {
    lock.Release();
    DropCache();
    if (keptOpen) Unclaim();
  }

  void Leave() {
    if (!Buffering()) FlushForRead();
    if (lock.held() && lock.depth() == 1) {
      Settle();
      // A call that failed anywhere in the access (a write put back, a
      // free list left as it was) leaves the next access to look again.
      if (!watch.FirstFailure().ok() || flushFailed) clean = false;
    }
    if (lock.Leave()) {
      DropCache();
      if (keptOpen) Unclaim();
    }
  }

  // Writes the pending appends: their chains' blocks, block 0, the records,
  // and last the record count, so that the count never covers a record not
  // yet written. When a write fails, the table is put back as it was before
  // these appends (the count, block 0, the free blocks the chains took),
  // the appends are dropped from the figures, and the result is false.
  bool WritePending() {
    if (pendingCount == 0 && !blocks.HasPending()) return true;
    Wrote();
    if (!blocks.WritePending()) {
      DropPending();
      return false;
    }
    bool restored = true;
    bool ok = pendingRecords.WriteTo(*io, fd);
    if (ok) {
      char figures[8], before[8];
      EncodeInt32(figures, count);
      EncodeInt32(figures + 4, nextId);
      EncodeInt32(before, count - pendingCount);
      EncodeInt32(before + 4, nextId - pendingCount);
      ok = Overwrite(fmt::kRecordCountOffset, figures, before, 8, &restored);
    }
    if (!ok) {
      // Nothing counts the records: their blocks go back (unless the count
      // could not be put back, when they may be in use).
      if (restored)
        blocks.UndoWritten();
      else
        blocks.KeepWritten();
      DropPending();
      return false;
    }
    blocks.KeepWritten();
    pendingRecords.Clear();
    pendingCount = 0;
    return true;
  }

  // Flush's work: the appends pending written, and any earlier failure of
  // theirs told (once).
  bool FlushPending() {
    const bool ok = WritePending() && !flushFailed;
    if (flushFailed) Note(flushCause.ok() ? Status::IoError(path, EIO) : flushCause);
    flushFailed = false;
    flushCause = Status();
    return ok;
  }

  void DropPending() {
    count -= pendingCount;
    nextId -= pendingCount;
    pendingCount = 0;
    pendingRecords.Clear();
    blocks.DropPending();
    cursor = std::max(1, std::min(cursor, count));
  }

  // Before an operation that reads or changes what is in the file.
  void FlushForRead() {
    if (WritePending()) return;
    if (!flushFailed) flushCause = watch.FirstFailure();
    flushFailed = true;
    clean = false;
  }

  void DropCache() {
    cache.Drop();
    blocks.DropMapping();
  }

  // The bytes of record `index` (0-based), read as Batched() says.
  const char* RecordBytes(std::int32_t index) {
    if (index != lastRead) walking = lastRead >= 0 && index > lastRead && index - lastRead <= kWalkStride;
    lastRead = index;
    return cache.Get(*io, Area(), index, count, Batched());
  }

  // Overwrites `n` bytes at `at` that now hold `before`. When the write
  // fails, `before` is written back, so no half of it stays; *restored tells
  // whether that worked.
  bool Overwrite(off_t at, const char* bytes, const char* before, std::size_t n, bool* restored) {
    Wrote();
    *restored = true;
    if (WriteFully(*io, fd, bytes, n, at)) return true;
    DropCache();
    *restored = WriteFully(*io, fd, before, n, at).ok();
    return false;
  }

  // Fixed-width texts against their widths, when over-long text is refused.
  bool Fits(const FieldValues& values) {
    if (cutOverlong) return true;
    for (std::size_t i = 0; i < values.size() && i < fields().size(); ++i)
      if (values[i] && fields()[i].type == fmt::kFixedText &&
          values[i]->size() > static_cast<std::size_t>(fields()[i].width)) {
        Note(Status::TooLong(path, "a value is wider than its field"));
        return false;
      }
    return true;
  }

  // Keeps `status` as the cause of the operation unless one is kept.
  void Note(Status status) {
    if (cause.ok()) cause = std::move(status);
  }
  // Starts an operation that reports its cause.
  void Begin() {
    watch.Reset();
    cause = Status();
  }
  // The outcome of an operation begun with Begin: ok, or the first call
  // that failed, else the cause noted, else `otherwise`.
  Status Outcome(bool ok, Status otherwise = {}) {
    Status s;
    if (!ok) {
      clean = false;
      s = watch.FirstFailure();
      if (s.ok()) s = cause;
      if (s.ok()) s = otherwise.ok() ? Status::IoError(path, EIO) : std::move(otherwise);
    }
    watch.Reset();
    cause = Status();
    return s;
  }

  // The first blocks of the chains of every record, marked ones included.
  std::optional<std::vector<std::int32_t>> ChainHeads() {
    ++scans;
    std::vector<std::int32_t> heads;
    bool ok = true;
    for (std::int32_t i = 0; i < count && ok; ++i) {
      const char* rec = RecordBytes(i);
      ok = rec != nullptr;
      for (std::size_t f = 0; ok && f < fields().size(); ++f)
        if (IsStoredInBlocks(fields()[f].type)) heads.push_back(DecodeInt32(rec + fields()[f].offset));
    }
    --scans;
    if (!ok) return std::nullopt;
    return heads;
  }

  // Makes sure the blocks that `values` need can be taken from the free
  // list, rebuilding it from the records' chains when it cannot be trusted.
  bool PrepareBlocks(const FieldValues& values) {
    std::int32_t needed = 0;
    for (std::size_t i = 0; i < values.size() && i < fields().size(); ++i)
      if (values[i] && IsStoredInBlocks(fields()[i].type)) needed += BlockFile::BlocksFor(values[i]->size());
    if (needed == 0 || blocks.FreeListServes(needed)) return true;
    // The rebuild reads the records and their chains from the file.
    FlushForRead();
    if (flushFailed) return false;
    std::optional<std::vector<std::int32_t>> heads = ChainHeads();
    return heads && blocks.RebuildFreeList(*heads) && blocks.FreeListServes(needed);
  }

  // Fills `rec` with `values`; the chains replaced go to `oldChains`, the
  // chains written to `newChains` (each when given).
  bool PutAll(char* rec, const FieldValues& values, std::vector<std::int32_t>* oldChains,
              std::vector<std::int32_t>* newChains) {
    for (std::size_t i = 0; i < values.size() && i < fields().size(); ++i) {
      if (!values[i]) continue;
      std::int32_t old = 0, written = 0;
      if (!EncodeField(rec, fields()[i], *values[i], &blocks, &old, &written)) return false;
      if (old > 0 && oldChains) oldChains->push_back(old);
      if (written > 0 && newChains) newChains->push_back(written);
    }
    return true;
  }

  // Reads and checks the header and fields, finishes a purge cut short, and
  // cuts what lies behind the last whole counted record. Holds the lock.
  bool CheckAndAdjust() {
    if (!ReadTableHeader(*io, fd, &header)) return false;
    count = header.recordCount;
    nextId = header.nextId;
    Wrote();
    if (!RecoverPurgeJournal(*io, journalPath, Area(), &count) || !FitToWholeRecords(*io, fd, header, &count))
      return false;
    // The header every later access checks its own read against.
    head.assign(static_cast<std::size_t>(header.dataOffset), '\0');
    return ReadFully(*io, fd, head.data(), head.size(), 0).ok();
  }
};

namespace {

// Scoped table access: joins or takes the lock, leaves it at the end. Unless
// told otherwise, it first writes the appends pending, so that the file
// holds everything the access may read.
class Access {
 public:
  Access(RecordTable::Impl* impl, bool write, bool flush = true) : impl_(impl), ok_(impl->Acquire(write)) {
    if (ok_ && flush) impl_->FlushForRead();
  }
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

}  // namespace

RecordTable::RecordTable() : impl_(new Impl) {}

RecordTable::~RecordTable() {
  Close();
  delete impl_;
}

Status RecordTable::Open(const std::string& path) {
  if (IsOpen()) return Status::Busy(path, "a table is open in this object already");
  if (path.empty()) return Status::NotFound(path, "no table named");
  std::string file = TableFilePath(path);
  char real[PATH_MAX];
  if (!::realpath(file.c_str(), real)) return Status::FromErrno(file, errno);
  std::string key = AsciiLower(real);
  if (!ClaimTableFile(key)) return Status::Busy(real, "the table is open elsewhere in this program");
  Impl& t = *impl_;
  t.claimed = true;
  t.Begin();
  t.key = key;
  t.path = real;
  t.journalPath = std::string(real) + ".purge";
  t.watch.Wrap(t.nextIo);
  t.watch.SetFallbackPath(t.path);
  t.fd = ::open(real, O_RDWR | O_CLOEXEC);
  if (t.fd < 0) t.Note(Status::FromErrno(t.path, errno));
  t.watch.Name(t.fd, t.path);
  t.lock.Attach(t.fd);
  bool ok = false;
  struct stat st {};
  if (t.fd >= 0 && ::fstat(t.fd, &st) == 0 && S_ISREG(st.st_mode)) {
    errno = 0;
    if (!t.lock.Set(true)) {
      t.Note(errno == EAGAIN || errno == EACCES || errno == 0
                 ? Status::Busy(t.path, "locked by another program")
                 : Status::FromErrno(t.path, errno));
    } else {
      ok = t.CheckAndAdjust();
      if (ok && t.header.hasBlocks) {
        ok = t.blocks.Open(real, t.header.version, *t.io);
        if (t.blocks.IsOpen()) t.watch.Name(t.blocks.fd(), CompanionFilePath(real));
      }
      t.lock.Unset();
    }
  }
  Status outcome = t.Outcome(ok, Status::Corrupt(t.path, "not a table as its header describes"));
  if (!ok) Close();
  if (ok) t.cursor = 1;
  t.clean = ok;
  // A table kept open claims its file again whenever it takes the lock.
  if (ok && t.keptOpen) UnclaimTableFile(key);
  t.claimed = ok && !t.keptOpen;
  return outcome;
}

void RecordTable::Close() {
  Impl& t = *impl_;
  if (t.fd >= 0 && t.lock.held()) {
    t.WritePending();
    t.Settle();
  }
  if (t.fd >= 0) t.Unlock();
  t.holds = 0;
  t.clean = false;
  t.flushFailed = false;
  t.unfreed.clear();
  t.scans = 0;
  t.DropCache();
  if (t.blocks.IsOpen()) t.watch.Forget(t.blocks.fd());
  t.blocks.Close();
  t.watch.Forget(t.fd);
  if (t.fd >= 0) ::close(t.fd);
  t.fd = -1;
  t.Unclaim();
  t.key.clear();
  t.header = TableHeader();
  t.head.clear();
}

bool RecordTable::IsOpen() const { return impl_->fd >= 0; }

Status RecordTable::Sync() {
  Impl& t = *impl_;
  t.Begin();
  if (t.fd < 0) return Status::IoError(t.path, EBADF);
  const bool flushed = t.FlushPending();
  const bool table = t.io->Sync(t.fd) == 0;
  const bool ok = t.blocks.Sync() && table && flushed;
  return t.Outcome(ok);
}

Status RecordTable::Flush() {
  Impl& t = *impl_;
  t.Begin();
  if (t.fd < 0) return Status::IoError(t.path, EBADF);
  return t.Outcome(t.FlushPending());
}

void RecordTable::SetBufferedAppends(bool buffer) {
  impl_->bufferAppends = buffer;
  if (!buffer) impl_->FlushForRead();
}

void RecordTable::SetLockWait(std::chrono::milliseconds wait) { impl_->lock.SetWait(wait); }

void RecordTable::SetCutOverlongText(bool cut) { impl_->cutOverlong = cut; }

void RecordTable::SetKeptOpen(bool kept) {
  if (!IsOpen()) impl_->keptOpen = kept;
}

std::optional<TableState> RecordTable::State() {
  Access a(impl_, false);
  Impl& t = *impl_;
  if (!a || !t.StatFile()) return std::nullopt;
  TableState s;
  s.count = t.count;
  s.nextId = t.nextId;
  s.size = t.fileStat.st_size;
  s.changedNs =
      static_cast<std::int64_t>(t.fileStat.st_mtim.tv_sec) * 1000000000 + t.fileStat.st_mtim.tv_nsec;
  s.inode = t.fileStat.st_ino;
  s.device = t.fileStat.st_dev;
  return s;
}

void RecordTable::SetFileIo(FileIo* io) { impl_->nextIo = io ? io : &DefaultFileIo(); }

void RecordTable::SetSoundTables(SoundTables* tables) {
  impl_->soundTables = tables ? tables : &DefaultSoundTables();
}

SoundTables& DefaultSoundTables() {
  static SoundTables tables;
  return tables;
}

Status RecordTable::Hold(bool write, HoldCheck check) {
  Impl& t = *impl_;
  t.Begin();
  if (!t.Acquire(write, check)) return t.Outcome(false);
  ++t.holds;
  return t.Outcome(true);
}

Status RecordTable::Release() {
  Impl& t = *impl_;
  if (t.holds == 0) return Status();
  t.Begin();
  --t.holds;
  bool ok = true;
  if (!t.Buffering()) ok = t.FlushPending();
  t.Leave();
  return t.Outcome(ok);
}

const std::vector<FieldInfo>& RecordTable::Fields() const { return impl_->fields(); }

int RecordTable::FieldIndex(std::string_view name) const {
  const auto& fields = impl_->fields();
  std::string lower = AsciiLower(name);
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name.size() == name.size() && AsciiLower(fields[i].name) == lower)
      return static_cast<int>(i);
  return -1;
}

std::int32_t RecordTable::RecordCount() {
  Access a(impl_, false, false);
  return a ? impl_->count : 0;
}

std::int32_t RecordTable::NextRecordId() {
  Access a(impl_, false, false);
  return a ? impl_->nextId : 0;
}

std::int32_t RecordTable::RecordSize() const { return impl_->recordSize(); }
std::int32_t RecordTable::Version() const { return impl_->header.version; }

bool RecordTable::GoTo(std::int32_t recordNumber) {
  Access a(impl_, false, false);
  if (!a || impl_->count == 0) return false;
  impl_->cursor = std::clamp(recordNumber, 1, impl_->count);
  return true;
}

bool RecordTable::Skip(std::int32_t count) {
  Access a(impl_, false, false);
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
  Access a(impl_, false, false);
  return a && impl_->OnRecord();
}

std::int32_t RecordTable::RecordId() {
  Access a(impl_, false);
  if (!a || !impl_->OnRecord()) return 0;
  const char* rec = impl_->RecordBytes(impl_->cursor - 1);
  return rec ? DecodeInt32(rec) : 0;
}

bool RecordTable::IsMarked() { return RecordId() <= 0 && OnRecord(); }

std::optional<FieldValue> RecordTable::ReadValue(int fieldIndex) {
  Access a(impl_, false);
  Impl& t = *impl_;
  if (!a || !t.OnRecord() || fieldIndex < 0 || fieldIndex >= static_cast<int>(t.fields().size()))
    return std::nullopt;
  const char* rec = t.RecordBytes(t.cursor - 1);
  if (!rec) return std::nullopt;
  return DecodeField(rec, t.fields()[fieldIndex], &t.blocks, t.Batched());
}

std::optional<std::string> RecordTable::ReadTextAt(int fieldIndex) {
  std::optional<FieldValue> v = ReadValue(fieldIndex);
  if (!v) return std::nullopt;
  if (auto* text = std::get_if<std::string>(&*v)) return std::move(*text);
  return FieldText(*v, impl_->fields()[fieldIndex].type);
}

std::optional<std::string> RecordTable::ReadText(std::string_view field) {
  return ReadTextAt(FieldIndex(field));
}

std::string RecordTable::Read(std::string_view field) { return ReadText(field).value_or(std::string()); }

Status RecordTable::Append(const FieldValues& values) {
  impl_->Begin();
  Access a(impl_, true, false);
  Impl& t = *impl_;
  if (!a) return t.Outcome(false);
  if (t.flushFailed) return t.Outcome(false, t.flushCause);
  if (!t.Fits(values)) return t.Outcome(false);
  t.BeforeWrite();
  if (t.nextId == INT32_MAX || t.count == INT32_MAX)
    return t.Outcome(false, Status::TooLong(t.path, "the table is full"));
  const bool buffered = t.Buffering();
  if (buffered && t.pendingRecords.bytes() + t.blocks.PendingBytes() >= kAppendBufferBytes) {
    t.FlushForRead();
    if (t.flushFailed) return t.Outcome(false, t.flushCause);
  }
  if (!t.PrepareBlocks(values)) return t.Outcome(false);
  std::vector<char>& rec = t.newRecord;
  rec.assign(t.recordSize(), 0);
  EncodeInt32(rec.data(), t.nextId);
  const BlockFile::PendingMark mark = t.blocks.GetPendingMark();
  if (!t.PutAll(rec.data(), values, nullptr, nullptr)) {
    t.blocks.DropPendingTo(mark);
    return t.Outcome(false);
  }
  // The record goes behind the last one; WritePending writes it before it
  // raises the count, so an append cut short leaves bytes behind the last
  // counted record, which the next Open cuts off.
  const std::int32_t cursor = t.cursor;
  t.pendingRecords.Add(t.RecordOffset(t.count), rec.data(), rec.size());
  ++t.pendingCount;
  ++t.count;
  ++t.nextId;
  t.cursor = t.count;
  if (buffered || t.WritePending()) return t.Outcome(true);
  t.cursor = cursor;
  return t.Outcome(false);
}

Status RecordTable::Modify(const FieldValues& values) {
  impl_->Begin();
  Access a(impl_, true);
  Impl& t = *impl_;
  if (!a) return t.Outcome(false);
  if (!t.OnRecord()) return t.Outcome(false, Status::NotFound(t.path, "no record at the cursor"));
  if (!t.Fits(values)) return t.Outcome(false);
  t.BeforeWrite();
  if (!t.PrepareBlocks(values)) return t.Outcome(false);
  const char* current = t.RecordBytes(t.cursor - 1);
  if (!current) return t.Outcome(false);
  const std::vector<char> before(current, current + t.recordSize());
  std::vector<char> rec = before;
  std::vector<std::int32_t> oldChains, written;
  if (!t.PutAll(rec.data(), values, &oldChains, &written)) {
    t.blocks.DropPending();
    return t.Outcome(false);
  }
  // The new chains first, then the record that points at them.
  if (!t.blocks.WritePending()) return t.Outcome(false);
  bool restored = true;
  if (!t.Overwrite(t.RecordOffset(t.cursor - 1) + fmt::kIdSize, rec.data() + fmt::kIdSize,
                   before.data() + fmt::kIdSize, rec.size() - fmt::kIdSize, &restored)) {
    if (restored)
      t.blocks.UndoWritten();
    else
      t.blocks.KeepWritten();
    return t.Outcome(false);
  }
  t.blocks.KeepWritten();
  t.cache.Update(t.cursor - 1, rec.data(), fmt::kIdSize, t.recordSize());
  // The record no longer points at the old chains: free them.
  t.FreeLater(oldChains);
  return t.Outcome(true);
}

Status RecordTable::MarkDeleted() {
  impl_->Begin();
  Access a(impl_, true);
  Impl& t = *impl_;
  if (!a) return t.Outcome(false);
  if (!t.OnRecord()) return t.Outcome(false, Status::NotFound(t.path, "no record at the cursor"));
  const char* current = t.RecordBytes(t.cursor - 1);
  if (!current) return t.Outcome(false);
  std::int32_t id = DecodeInt32(current);
  if (id <= 0) return t.Outcome(true);
  t.BeforeWrite();
  std::vector<char> rec(current, current + t.recordSize());
  char before[4];
  std::memcpy(before, rec.data(), 4);
  EncodeInt32(rec.data(), -id);
  bool restored;
  if (!t.Overwrite(t.RecordOffset(t.cursor - 1), rec.data(), before, 4, &restored)) return t.Outcome(false);
  t.cache.Update(t.cursor - 1, rec.data(), 0, t.recordSize());
  return t.Outcome(true);
}

Status RecordTable::MarkDeletedWhere(const Predicate& pred) {
  impl_->Begin();
  Access a(impl_, true);
  if (!a) return impl_->Outcome(false);
  ScanScope scan(impl_);
  Impl& t = *impl_;
  std::int32_t saved = t.cursor;
  Status first;
  for (std::int32_t i = 1; i <= t.count; ++i) {
    t.cursor = i;
    if (!pred(*this)) continue;
    Status marked = MarkDeleted();
    if (!marked && first.ok()) first = std::move(marked);
  }
  t.cursor = saved;
  return first;
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

Status RecordTable::Purge() {
  impl_->Begin();
  Access a(impl_, true);
  if (!a) return impl_->Outcome(false);
  Impl& t = *impl_;
  t.BeforeWrite();
  t.DropCache();
  std::vector<std::int32_t> chainOffsets;
  for (const FieldInfo& f : t.fields())
    if (IsStoredInBlocks(f.type)) chainOffsets.push_back(f.offset);
  std::int32_t kept = t.count;
  std::vector<std::int32_t> freed;
  bool ok = PurgeThroughJournal(*t.io, t.journalPath, t.Area(), t.count, chainOffsets, &kept, &freed);
  if (!ok) {
    // A sealed journal left behind is finished at once when the file lets
    // it; the records are then gone all the same.
    bool applied = false;
    ok = RecoverPurgeJournal(*t.io, t.journalPath, t.Area(), &kept, &applied) && applied;
  }
  t.DropCache();
  if (!ok) return t.Outcome(false);
  t.count = kept;
  // The removed records are gone from the file: their blocks are free,
  // except those that a kept record's chain reaches too.
  t.FreeUnreached(freed);
  t.cursor = 1;
  return t.Outcome(true);
}

std::optional<BlockReport> RecordTable::CheckBlocks() {
  Access a(impl_, false);
  if (!a || !impl_->header.hasBlocks) return std::nullopt;
  std::optional<std::vector<std::int32_t>> heads = impl_->ChainHeads();
  if (!heads) return std::nullopt;
  BlockReport report = impl_->blocks.Check(*heads);
  impl_->sound = report.problems.empty();
  impl_->soundKnown = true;
  return report;
}

}  // namespace autodeliver
