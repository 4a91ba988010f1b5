// RecordTable: one open record-table file (layout in table_format.h) with a
// cursor and deleted marks.
//
// Records are numbered from 1 in file order. A marked record stays in the
// file, is counted and can be read until Purge removes every marked record
// and closes the gaps. Long texts and byte arrays live in the companion block
// file (block_file.h); its free blocks are kept in a list, checked before
// each reuse and rebuilt from the blocks in use when it cannot be trusted.
// Purge and Modify never free a block that another record's chain still
// reaches (a damaged file may share blocks between records). Finding that
// out walks every chain; a table found sharing no block is remembered, with
// its files' sizes, change times and block figures, until another writer
// changes it, and is not walked again meanwhile.
// A fixed-width text longer than its field is cut to the width at a GBK
// character boundary.
//
// Every operation reads the file (nothing of the data is kept between
// operations) under a byte-range lock on the record count of the table file:
// shared for reads, exclusive for writes, so that processes sharing a table
// never interleave. A lock held elsewhere is retried until the lock wait
// (default 3 s) runs out, and the operation then fails. Hold() keeps the lock
// across a sequence of operations, which also lets scans read the data area
// in large chunks.
//
// With SetBufferedAppends, appends inside a write hold are kept in memory and
// written together (companion blocks, block 0, the records, then the record
// count) by Flush, by the Release that ends the hold, once they pass
// kAppendBufferBytes, and before any operation that reads or changes the
// records. Other processes wait for the lock meanwhile, so none ever sees a
// count covering records not written. A write that fails puts the table
// back as it was before the appends of that write, which are then lost:
// Flush, Sync or Release returns false, and Append fails until one of them
// has told it.
//
// Purge goes through a journal beside the table (purge_journal.h), so a
// purge cut short is finished or undone and a record is never lost or
// doubled. An append writes its record before it raises the count, and Open
// cuts bytes behind the last counted record. A write that fails puts back
// the bytes it changed in place, so no record is left half-written. Reads,
// writes and truncation go through a FileIo (file_io.h), which tests
// replace to inject failures.
//
// The operations that change or hold the table return a Status (status.h):
// ok, or the cause of the failure: the failed call's errno and file (a full
// disk, an I/O error, a refused permission), a lock held elsewhere (kBusy),
// a value its field cannot hold whole (kTooLong), or a file that is not a
// table as it claims (kCorrupt). It converts to bool, true when ok.
//
// A file can be open in at most one RecordTable of a process at a time,
// except that a table kept open (SetKeptOpen) claims its file only while it
// holds the lock: another RecordTable of the process may open the file
// between two of its accesses (one at a time: the one that comes second
// fails as busy). Every access of a table kept open checks that the file at
// its path is still the one it holds (one fstat), and every access of any
// table that the header and the field descriptors are those it read at
// Open: another writer's rebuild of the table under its name fails the
// access (kNotFound), and the table must be opened again. A caller with a
// change check of its own can spare a hold these looks (Hold's HoldCheck).
//
// Thread safety: a RecordTable is used by one thread at a time. Distinct
// RecordTables on distinct files may be used from different threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "io/status.h"
#include "tables/block_file.h"
#include "tables/sound_tables.h"

namespace autodeliver {

class FileIo;

// Buffered appends (SetBufferedAppends) are written once they hold this many
// bytes of records and companion blocks.
inline constexpr std::size_t kAppendBufferBytes = std::size_t{4} << 20;

// One field as the table file describes it.
struct FieldInfo {
  std::string name;         // GBK, at most 16 bytes
  std::int32_t type = 0;    // table_format::FieldType
  std::int32_t offset = 0;  // inside the record
  std::int32_t width = 0;   // type 10 only
};

// True when `text` is stored whole in `field`: any text in a long-text field,
// at most `width` bytes in a fixed-width one (where a longer text is cut).
// Callers whose values must never be cut (a card number, a setting's name)
// check it before they write.
inline bool TextFitsField(const FieldInfo& field, std::string_view text) {
  return field.type != 10 || text.size() <= static_cast<std::size_t>(field.width);
}

// A typed value read from a field: integers (types 1-4, 9), reals (5, 6,
// and 8 as days since 1899-12-30), booleans (7), texts and byte arrays
// (10-12, as raw bytes).
using FieldValue = std::variant<std::int64_t, double, bool, std::string>;

// What tells a table's state apart between two accesses: its figures and
// its file's identity, size and change time. A write by anyone changes at
// least one of them (the change time within the clock's resolution).
struct TableState {
  std::int32_t count = -1;
  std::int32_t nextId = -1;
  std::int64_t size = -1;
  std::int64_t changedNs = -1;
  std::uint64_t inode = 0;
  std::uint64_t device = 0;
  bool operator==(const TableState&) const = default;
};

// Values for Append and Modify, by position in field order. A missing value
// (std::nullopt, or a position past the end) leaves its field as it is (zero
// in a new record).
using FieldValues = std::vector<std::optional<std::string>>;

class RecordTable {
 public:
  using Predicate = std::function<bool(RecordTable&)>;

  RecordTable();
  ~RecordTable();  // closes
  RecordTable(const RecordTable&) = delete;
  RecordTable& operator=(const RecordTable&) = delete;

  // Opens the table at `path` (".EDB" appended when the last component has
  // no dot), checks and adjusts it, and puts the cursor on record 1. Fails on
  // an empty path, a file already open in this process, a file that cannot be
  // opened, a failed check or a lock that cannot be had.
  Status Open(const std::string& path);
  void Close();
  bool IsOpen() const;

  // The bound for waiting on a lock held by another process.
  void SetLockWait(std::chrono::milliseconds wait);

  // Cut (default) or refuse a fixed-width text longer than its field. When
  // refused, Append and Modify fail and write nothing.
  void SetCutOverlongText(bool cut);

  // The file-system calls used from the next Open on; null means the real
  // ones. The FileIo must outlive the table's use of it.
  void SetFileIo(FileIo* io);
  // Where the table learns and leaves whether its chains are known to share
  // no block (sound_tables.h); null means the process's own set. The set
  // must outlive the table's use of it.
  void SetSoundTables(SoundTables* tables);

  // Before Open: the table is kept open across many accesses (a delivery
  // session) and claims its file only while it holds the lock (see above).
  // The caller serialises its accesses with the process's other users of
  // the file (the store lock does).
  void SetKeptOpen(bool kept);

  // The table's state now (see TableState); one fstat per access, taken
  // again after a write. Nullopt when the table cannot be read.
  std::optional<TableState> State();

  // How a hold that takes the table afresh looks at it.
  enum class HoldCheck {
    // The lock (shared for a read), a purge cut short finished, the header
    // and block 0 read, and for a table kept open its file looked at.
    kFull,
    // As kFull, but a read takes no lock: for a caller whose own lock keeps
    // every writer of the table out (readers need not wait for each other).
    kUnlockedReads,
    // For a caller that knows no one wrote the table's files since this
    // table's last hold (every writer takes a lock the caller held since):
    // nothing is looked at, a read takes no lock and a write its lock only.
    // A table whose last access failed somewhere is looked at as
    // kUnlockedReads all the same.
    kUnchanged,
  };

  // Holds the table lock (exclusive when `write`) until the matching
  // Release; operations inside then neither lock again nor re-read the
  // header. Holds nest; a write hold inside a read hold upgrades the lock.
  // The Release that ends the last hold writes the appends pending (see
  // above) and returns false when they could not all be written. `check`
  // applies when the hold takes the table afresh (see HoldCheck).
  Status Hold(bool write, HoldCheck check = HoldCheck::kFull);
  Status Release();

  // Keeps appends made inside a write hold in memory until one of the
  // points above writes them (default off: each Append writes its record).
  // Turning it off writes what is pending.
  void SetBufferedAppends(bool buffer);
  // Writes the appends pending. False when a write of pending appends
  // failed, here or since the last Flush, Sync or Release: the appends made
  // since the last of these that returned true may be lost, and the record
  // count tells how many records the file holds.
  Status Flush();

  // The fields in definition order.
  const std::vector<FieldInfo>& Fields() const;
  // Index of the field named `name` (ASCII letters compared without case),
  // or -1.
  int FieldIndex(std::string_view name) const;

  // Header figures.
  std::int32_t RecordCount();
  std::int32_t NextRecordId();
  std::int32_t RecordSize() const;
  std::int32_t Version() const;

  // Cursor. GoTo clamps to 1..RecordCount and fails on an empty table. Skip
  // moves by `count`, stopping one place behind the last or before the
  // first record; it fails on an empty table and when the cursor already
  // stands beyond the end it moves towards.
  bool GoTo(std::int32_t recordNumber);
  bool Skip(std::int32_t count = 1);
  std::int32_t RecordNumber() const;
  // True when the cursor stands on a record.
  bool OnRecord();

  // The id of the cursor's record (negative when marked), 0 off a record.
  std::int32_t RecordId();
  bool IsMarked();

  // The text of a field of the cursor's record: texts as stored, numbers as
  // decimal text, booleans as "真"/"假". Empty when the field does not
  // exist, the cursor is off a record or the value cannot be read.
  std::string Read(std::string_view field);
  // The same, telling a failed read (nullopt) from an empty value.
  std::optional<std::string> ReadText(std::string_view field);
  std::optional<std::string> ReadTextAt(int fieldIndex);
  // The typed value of a field of the cursor's record.
  std::optional<FieldValue> ReadValue(int fieldIndex);

  // Appends a record (id = next record id); the cursor goes to it. When
  // appends are buffered, the record is written later (see above).
  Status Append(const FieldValues& values);
  // Rewrites the given fields of the cursor's record; the id is kept.
  Status Modify(const FieldValues& values);
  // Marks the cursor's record; a marked record stays marked.
  Status MarkDeleted();
  // Marks every record, from the first, for which `pred` is true; the
  // predicate sees the record under test as the cursor's record. The cursor
  // is restored afterwards.
  Status MarkDeletedWhere(const Predicate& pred);
  // Removes every marked record, keeps the order of the rest, frees their
  // companion blocks, truncates the file; cursor on record 1.
  Status Purge();
  // From the cursor's record to the end: the first record for which `pred`
  // is true becomes the cursor's record (true); otherwise the cursor stays.
  bool Find(const Predicate& pred);

  // Writes the appends pending (as Flush) and flushes the table and its
  // companion file to the disk (FileIo::Sync on both), so that a power cut
  // keeps them.
  Status Sync();

  // Holds the companion file's free list against the blocks the records'
  // chains use (marked records included); nullopt when the table has no
  // companion file or cannot be read.
  std::optional<BlockReport> CheckBlocks();

  // Internal state; defined in record_table.cpp.
  struct Impl;

 private:
  Impl* impl_;
};

// One field of a table to be created: name (GBK), type, width (type 10).
struct FieldSpec {
  std::string name;
  std::int32_t type = 0;
  std::int32_t width = 0;
};

// Creates an empty table at `path` (and its companion file when a field is
// stored there), next record id 1. Fails when the file exists already or a
// field is invalid. Used by the installation tool and tests; the program
// itself never creates tables.
bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields);

// The path a table is opened under (".EDB" added when the last component
// has no dot, "EDB" when it ends in a dot) and its companion file (the
// extension replaced by "EDT", in the letter case of the table's extension;
// Open also accepts the companion in the other letter case).
std::string TableFilePath(const std::string& path);
std::string CompanionFilePath(const std::string& tablePath);

}  // namespace autodeliver
