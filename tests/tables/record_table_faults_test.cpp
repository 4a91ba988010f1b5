// The record table under faults: writes that fail part-way, a full disk,
// reads that fail or come back short (all injected through FileIo), and
// companion files whose free list names blocks that are not free.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>

#include "../store/table_files.h"
#include "io/status.h"
#include "support/fault_io.h"
#include "tables/record_table.h"

namespace autodeliver {
namespace {

using testing::FaultIo;
using testing::Get32;
using testing::Put32;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

struct Row {
  std::int32_t id;
  std::vector<std::string> values;
  bool operator==(const Row&) const = default;
};

// Every record with its id and values, marked ones included; nullopt when a
// value cannot be read.
std::optional<std::vector<Row>> Contents(RecordTable& t) {
  std::vector<Row> rows;
  std::int32_t n = t.RecordCount();
  t.GoTo(1);
  for (std::int32_t r = 0; r < n; ++r, t.Skip()) {
    Row row{t.RecordId(), {}};
    for (std::size_t f = 0; f < t.Fields().size(); ++f) {
      std::optional<std::string> v = t.ReadTextAt(static_cast<int>(f));
      if (!v) return std::nullopt;
      row.values.push_back(*v);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// A table with two long texts and a fixed-width text, four records with
// values of one to three blocks, two blocks on the free list and record 2
// marked deleted.
struct FaultFixture {
  TempDir dir;
  std::string path = dir / "f.edb";
  std::string companion = dir / "f.edt";
  std::string table, blocks;  // the files as built

  FaultFixture() {
    EXPECT_TRUE(CreateTable(path, {{"N", 12, 0}, {"W", 10, 8}, {"D", 12, 0}}));
    RecordTable t;
    EXPECT_TRUE(t.Open(path));
    EXPECT_TRUE(t.Append({std::string(1200, 'n'), "w1", "d1"}));
    EXPECT_TRUE(t.Append({"n2", "w2", std::string(600, 'd')}));
    EXPECT_TRUE(t.Append({std::string(700, 'm'), "w3", "d3"}));
    EXPECT_TRUE(t.Append({"n4", "w4", ""}));
    t.GoTo(3);
    EXPECT_TRUE(t.MarkDeleted());
    EXPECT_TRUE(t.Purge());
    t.GoTo(2);
    EXPECT_TRUE(t.MarkDeleted());
    t.Close();
    table = ReadFileBytes(path);
    blocks = ReadFileBytes(companion);
    EXPECT_EQ(Get32(blocks, 24), 3);  // free blocks
  }

  void Restore() const {
    WriteFileBytes(path, table);
    WriteFileBytes(companion, blocks);
    std::filesystem::remove(path + ".purge");
  }
};

struct Operation {
  const char* what;
  std::function<bool(RecordTable&)> run;
};

const Operation kOperations[] = {
    {"append taking free and new blocks",
     [](RecordTable& t) {
       return t.Append({std::string(1900, 'a'), "w5", "d5"}).ok();
     }},
    {"append of a fixed-width text only",
     [](RecordTable& t) {
       return t.Append({std::nullopt, "w6"}).ok();
     }},
    {"modify of both long texts",
     [](RecordTable& t) {
       return t.GoTo(1) && t.Modify({"short", std::nullopt, std::string(900, 'x')});
     }},
    {"modify of a fixed-width text",
     [](RecordTable& t) {
       return t.GoTo(3) && t.Modify({std::nullopt, "neu"});
     }},
    {"mark", [](RecordTable& t) { return t.GoTo(1) && t.MarkDeleted(); }},
    {"purge", [](RecordTable& t) { return t.Purge().ok(); }},
};

// After a fault the table opens with every value readable, shows either the
// state before the operation or the state after it (never a mixture), has a
// sound free list and takes further writes.
void ExpectWhole(const FaultFixture& f, const std::vector<Row>& before, const std::vector<Row>& after,
                 bool succeeded) {
  RecordTable t;
  ASSERT_TRUE(t.Open(f.path));
  std::optional<std::vector<Row>> now = Contents(t);
  ASSERT_TRUE(now) << "a value cannot be read";
  if (succeeded) {
    EXPECT_EQ(*now, after);
  } else {
    EXPECT_TRUE(*now == before || *now == after) << "half-written";
  }
  std::optional<BlockReport> report = t.CheckBlocks();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->problems, std::vector<std::string>{});
  EXPECT_FALSE(std::filesystem::exists(f.path + ".purge"));
  ASSERT_TRUE(t.Append({std::string(800, 'z'), "later", "z"}));
  EXPECT_TRUE(Contents(t));
  EXPECT_EQ(t.CheckBlocks()->problems, std::vector<std::string>{});
}

TEST(RecordTableFaults, AFailedWriteOrReadLeavesNothingHalfWritten) {
  FaultFixture f;
  RecordTable t;
  ASSERT_TRUE(t.Open(f.path));
  const std::vector<Row> before = *Contents(t);
  t.Close();
  for (const Operation& op : kOperations) {
    SCOPED_TRACE(op.what);
    f.Restore();
    ASSERT_TRUE(t.Open(f.path));
    ASSERT_TRUE(op.run(t));
    const std::vector<Row> after = *Contents(t);
    t.Close();
    // Each write in turn is torn half way, each read in turn fails, and
    // then the disk is full.
    struct Fault {
      const char* kind;
      std::function<void(FaultIo&, int)> set;
      bool everyOperation;
    } faults[] = {
        {"torn write", [](FaultIo& io, int k) { io.failWrite = k; }, true},
        {"failed read",
         [](FaultIo& io, int k) {
           io.failRead = k;
           io.noMap = true;
         },
         true},
        {"full disk",
         [](FaultIo& io, int k) {
           if (k == 1) io.room = 0;
         },
         false},
    };
    for (const Fault& fault : faults) {
      int injected = 0;
      for (int k = 1; k < 1000; ++k) {
        SCOPED_TRACE(std::string(fault.kind) + " " + std::to_string(k));
        f.Restore();
        FaultIo io;
        bool ok;
        {
          RecordTable faulty;
          faulty.SetFileIo(&io);
          fault.set(io, k);
          ok = faulty.Open(f.path) && op.run(faulty);
        }
        if (!io.failed) {
          EXPECT_TRUE(ok);
          break;
        }
        ++injected;
        ExpectWhole(f, before, after, ok);
        if (::testing::Test::HasFailure()) return;
      }
      // Every operation writes and reads; a full disk stops only those
      // that grow a file.
      if (fault.everyOperation) {
        EXPECT_GT(injected, 0) << fault.kind;
      }
    }
  }
}

// Buffered appends written in two batches (a Flush, then the Release that
// ends the hold), the first taking the free blocks and new ones. Whichever
// write fails or tears, and on a full disk, the table opens exactly as it
// was before a batch (its header and block 0 included) or after it: a
// batch whose Flush or Release failed is gone, the batch before it stays.
TEST(RecordTableFaults, ABufferedBatchIsWrittenWholeOrNotAtAll) {
  FaultFixture f;
  const std::vector<FieldValues> batches[] = {
      {{std::string(1900, 'a'), "w5", "d5"}, {std::nullopt, "w6"}, {"n7", "w7", std::string(520, 'e')}},
      {{std::string(300, 'b'), "w8", ""}, {"n9", "w9", "d9"}},
  };
  // Runs the batches; the result of each batch's write, until one fails.
  auto run = [&](RecordTable& t, const std::function<void()>& afterBatch) {
    std::vector<bool> written;
    if (!t.Hold(true)) return written;
    t.SetBufferedAppends(true);
    for (std::size_t b = 0; b < std::size(batches); ++b) {
      for (const FieldValues& v : batches[b]) EXPECT_TRUE(t.Append(v));
      const bool last = b + 1 == std::size(batches);
      written.push_back((last ? t.Release() : t.Flush()).ok());
      if (!written.back()) {
        if (!last) t.Release();
        break;
      }
      if (afterBatch) afterBatch();
    }
    return written;
  };
  // The contents and the files' figures before and after each batch.
  struct State {
    std::vector<Row> rows;
    std::string header, block0;
  };
  auto now = [&](bool withRows) {
    State s{{}, ReadFileBytes(f.path).substr(0, 116), ReadFileBytes(f.companion).substr(0, 28)};
    if (withRows) {
      RecordTable t;
      EXPECT_TRUE(t.Open(f.path));
      s.rows = *Contents(t);
    }
    return s;
  };
  std::vector<State> states = {now(true)};
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(f.path));
    ASSERT_EQ(run(t, [&] { states.push_back(now(false)); }), (std::vector<bool>{true, true}));
  }
  // The rows after a batch, read once the table is closed.
  states[2].rows = now(true).rows;
  {
    f.Restore();
    RecordTable t;
    ASSERT_TRUE(t.Open(f.path));
    for (const FieldValues& v : batches[0]) ASSERT_TRUE(t.Append(v));
    t.Close();
    states[1].rows = now(true).rows;
  }
  ASSERT_EQ(states[2].rows.size(), states[0].rows.size() + 5);

  // Checks the files after a run whose batches' writes returned `written`.
  auto expectState = [&](const std::vector<bool>& written) {
    const std::size_t batchesWritten = std::count(written.begin(), written.end(), true);
    ASSERT_LT(batchesWritten, 2u);
    const State& expected = states[batchesWritten];
    const State found = now(false);
    EXPECT_EQ(found.header, expected.header);
    EXPECT_EQ(found.block0, expected.block0);
    RecordTable t;
    ASSERT_TRUE(t.Open(f.path));
    EXPECT_EQ(Contents(t), expected.rows);
    EXPECT_EQ(t.CheckBlocks()->problems, std::vector<std::string>{});
    ASSERT_TRUE(t.Append({std::string(800, 'z'), "later", "z"}));
    EXPECT_TRUE(Contents(t));
    EXPECT_EQ(t.CheckBlocks()->problems, std::vector<std::string>{});
  };

  // Each write in turn torn half way.
  int injected = 0;
  for (int k = 1; k < 1000; ++k) {
    SCOPED_TRACE("torn write " + std::to_string(k));
    f.Restore();
    FaultIo io;
    std::vector<bool> written;
    {
      RecordTable t;
      t.SetFileIo(&io);
      ASSERT_TRUE(t.Open(f.path));
      io.failWrite = k;
      written = run(t, {});
    }
    if (!io.failed) {
      EXPECT_EQ(written, (std::vector<bool>{true, true}));
      break;
    }
    ++injected;
    expectState(written);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(injected, 3);

  // The disk full from the start, and once the first batch is in.
  for (std::size_t fullAfter = 0; fullAfter < 2; ++fullAfter) {
    SCOPED_TRACE("disk full after batch " + std::to_string(fullAfter));
    f.Restore();
    FaultIo io;
    if (fullAfter == 0) io.room = 0;
    std::vector<bool> written;
    {
      RecordTable t;
      t.SetFileIo(&io);
      ASSERT_TRUE(t.Open(f.path));
      written = run(t, [&] { io.room = 0; });
    }
    EXPECT_TRUE(io.failed);
    EXPECT_EQ(written.size(), fullAfter + 1);
    expectState(written);
  }
}

// A failed operation returns its cause: the failed call's errno and the
// file it was made on (the table or its companion), taken where the call
// failed; a refused over-long value is kTooLong.
TEST(RecordTableFaults, AFailedOperationTellsItsCauseAndItsFile) {
  using Refusing = testing::FaultIo;
  struct Case {
    const char* what;
    std::function<void(Refusing&)> arm;
    Status::Code code;
    int error;
    bool inPlace;  // an overwrite inside the file fails too (a full disk lets it through)
  };
  const Case cases[] = {
      {"full disk", [](Refusing& io) { io.room = 0; }, Status::Code::kDiskFull, ENOSPC, false},
      {"failing disk", [](Refusing& io) { io.failWrite = io.writes + 1; }, Status::Code::kIoError, EIO, true},
      {"no permission",
       [](Refusing& io) {
         io.failWrite = io.writes + 1;
         io.failWriteErrno = EACCES;
         io.failWriteLands = 0;
       },
       Status::Code::kIoError, EACCES, true},
  };
  const Operation* long_append = &kOperations[0];
  const Operation* mark = &kOperations[4];
  FaultFixture fx;
  for (const Case& c : cases) {
    for (const Operation* op : {long_append, mark}) {
      if (op == mark && !c.inPlace) continue;
      SCOPED_TRACE(std::string(c.what) + ", " + op->what);
      fx.Restore();
      Refusing io;
      RecordTable t;
      t.SetFileIo(&io);
      ASSERT_TRUE(t.Open(fx.path));
      c.arm(io);
      Status s = op == mark ? (t.GoTo(1), t.MarkDeleted()) : t.Append({std::string(1900, 'a'), "w5", "d5"});
      EXPECT_EQ(s.code(), c.code) << s.ToString();
      EXPECT_EQ(s.error(), c.error);
      EXPECT_TRUE(s.path() == std::filesystem::canonical(fx.path).string() ||
                  s.path() == std::filesystem::canonical(fx.companion).string())
          << s.path();
      EXPECT_EQ(s.IsPermissionDenied(), c.error == EACCES);
    }
  }
  fx.Restore();
  RecordTable t;
  ASSERT_TRUE(t.Open(fx.path));
  t.SetCutOverlongText(false);
  EXPECT_EQ(t.Append({"n", "longer than eight", "d"}).code(), Status::Code::kTooLong);
  EXPECT_TRUE(t.Append({"n", "fits", "d"})) << "a refusal leaves no cause behind";
  t.Close();
  EXPECT_EQ(t.Open(fx.dir / "missing.edb").code(), Status::Code::kNotFound);
}

// The calls around the reads and writes fail: a table or companion file
// that cannot be opened (no permission, no descriptor left) or a lock held
// elsewhere gives the cause and the file, and the table reads as before; a
// purge whose journal cannot be flushed into its folder leaves the table as
// it was, and one whose journal cannot be removed afterwards is not applied
// again over the writes that follow it.
TEST(RecordTableFaults, OpenLockRemoveAndFolderFlushFailuresLoseNothing) {
  FaultFixture fx;
  const std::string table = std::filesystem::canonical(fx.path).string();
  const std::string companion = std::filesystem::canonical(fx.companion).string();
  struct OpenCase {
    const char* what;
    std::function<void(FaultIo&)> arm;
    Status::Code code;
    int error;
    std::string file;
  };
  const OpenCase opens[] = {
      {"table open refused", [](FaultIo& io) { io.failOpenPath = "f.edb"; }, Status::Code::kIoError, EACCES,
       table},
      {"no descriptor left",
       [](FaultIo& io) {
         io.failOpen = 1;
         io.failOpenErrno = EMFILE;
       },
       Status::Code::kIoError, EMFILE, table},
      {"companion open refused", [](FaultIo& io) { io.failOpenPath = "f.edt"; }, Status::Code::kIoError,
       EACCES, companion},
      {"lock held elsewhere", [](FaultIo& io) { io.locksBusy = true; }, Status::Code::kBusy, 0, table},
  };
  for (const OpenCase& c : opens) {
    SCOPED_TRACE(c.what);
    fx.Restore();
    FaultIo io;
    c.arm(io);
    RecordTable t;
    t.SetFileIo(&io);
    t.SetLockWait(std::chrono::milliseconds(0));
    const Status s = t.Open(fx.path);
    EXPECT_TRUE(io.failed);
    EXPECT_EQ(s.code(), c.code) << s.ToString();
    if (c.error != 0) {
      EXPECT_EQ(s.error(), c.error);
    }
    EXPECT_EQ(s.path(), c.file) << s.ToString();
    EXPECT_FALSE(t.IsOpen());
    EXPECT_EQ(ReadFileBytes(fx.path), fx.table);
    EXPECT_EQ(ReadFileBytes(fx.companion), fx.blocks);
  }

  // A held table whose lock is then taken elsewhere: the next access is
  // refused as busy and the table stays as it was.
  fx.Restore();
  {
    FaultIo io;
    RecordTable t;
    t.SetFileIo(&io);
    t.SetLockWait(std::chrono::milliseconds(0));
    ASSERT_TRUE(t.Open(fx.path));
    ASSERT_TRUE(t.GoTo(1));
    io.locksBusy = true;
    EXPECT_EQ(t.MarkDeleted().code(), Status::Code::kBusy);
    io.locksBusy = false;
    std::optional<std::vector<Row>> rows = Contents(t);
    ASSERT_TRUE(rows);
    EXPECT_GT(rows->front().id, 0);
  }

  // The purge's journal cannot be flushed into its folder: the purge fails
  // with the folder's cause, the table keeps every record.
  fx.Restore();
  std::vector<Row> before;
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(fx.path));
    before = *Contents(t);
  }
  {
    FaultIo io;
    io.failSyncFolder = 1;
    RecordTable t;
    t.SetFileIo(&io);
    ASSERT_TRUE(t.Open(fx.path));
    const Status s = t.Purge();
    EXPECT_TRUE(io.failed);
    EXPECT_EQ(s.code(), Status::Code::kIoError) << s.ToString();
    EXPECT_EQ(s.path(), std::filesystem::path(table).parent_path().string()) << s.ToString();
  }
  ExpectWhole(fx, before, before, true);

  // The purge works but its journal cannot be removed: a record appended
  // after it is still there when the table is opened again.
  fx.Restore();
  {
    FaultIo io;
    io.failRemove = 1;
    RecordTable t;
    t.SetFileIo(&io);
    ASSERT_TRUE(t.Open(fx.path));
    // In one hold, as a store operation purges and appends.
    ASSERT_TRUE(t.Hold(true));
    ASSERT_TRUE(t.Purge());
    EXPECT_TRUE(io.failed);
    ASSERT_TRUE(t.Append({"after", "w", "the purge"}));
    ASSERT_TRUE(t.Release());
  }
  RecordTable t;
  ASSERT_TRUE(t.Open(fx.path));
  std::optional<std::vector<Row>> rows = Contents(t);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), before.size());  // one marked gone, one appended
  EXPECT_EQ(rows->back().values, (std::vector<std::string>{"after", "w", "the purge"}));
}

TEST(RecordTableFaults, ShortReadsReadTheSameTable) {
  FaultFixture f;
  RecordTable t;
  ASSERT_TRUE(t.Open(f.path));
  std::vector<Row> expected = *Contents(t);
  t.Close();
  FaultIo io;
  io.readPiece = 5;
  io.noMap = true;
  t.SetFileIo(&io);
  ASSERT_TRUE(t.Open(f.path));
  EXPECT_EQ(Contents(t), expected);
  ASSERT_TRUE(t.Hold(false));  // scans read in chunks
  EXPECT_EQ(Contents(t), expected);
  t.Release();
  EXPECT_GT(io.reads, 100);
  EXPECT_TRUE(t.Append({std::string(1900, 'a'), "w5", "d5"}));
  EXPECT_TRUE(t.Purge());
  EXPECT_EQ(t.RecordCount(), 3);
}

// Free lists that name blocks still in use, loop, or disagree with their
// count. Check reports each; a write never takes a used block, and the list
// is rebuilt from the blocks in use.
TEST(RecordTableFaults, ADamagedFreeListNeverHandsOutAUsedBlock) {
  // Blocks: 1-3 hold record 1's N, 4 is free, 5-6 hold record 3's D.
  auto build = [](const std::string& path) {
    RecordTable t;
    EXPECT_TRUE(t.Open(path));
    EXPECT_TRUE(t.Append({std::string(1200, 'p'), "w1", ""}));
    EXPECT_TRUE(t.Append({"gone", "w2", ""}));
    EXPECT_TRUE(t.Append({"", "w3", std::string(900, 'q')}));
    t.GoTo(2);
    EXPECT_TRUE(t.MarkDeleted());
    EXPECT_TRUE(t.Purge());
  };
  struct Case {
    const char* what;
    std::int32_t head, count, block4Next;
  } cases[] = {
      {"head names a used block", 2, 1, 0},
      {"head names the last block of a chain", 6, 1, 0},
      {"list runs from a free block into a used one", 4, 2, 5},
      {"list loops", 4, 2, 4},
      {"list ends before its count", 4, 3, 0},
      {"list runs on past its count", 4, 1, 1},
      {"count without a head", 0, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string path = dir / "b.edb";
    ASSERT_TRUE(CreateTable(path, {{"N", 12, 0}, {"W", 10, 8}, {"D", 12, 0}}));
    build(path);
    std::string blocks = ReadFileBytes(dir / "b.edt");
    ASSERT_EQ(Get32(blocks, 16), 7);
    ASSERT_EQ(Get32(blocks, 20), 4);
    Put32(blocks, 20, c.head);
    Put32(blocks, 24, c.count);
    Put32(blocks, 4 * 512, c.block4Next);
    WriteFileBytes(dir / "b.edt", blocks);

    RecordTable t;
    ASSERT_TRUE(t.Open(path));
    std::optional<BlockReport> report = t.CheckBlocks();
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->problems.empty());
    std::vector<Row> before = *Contents(t);
    // Three blocks wanted: more than the list offers.
    ASSERT_TRUE(t.Append({std::string(1400, 'r'), "w4", "s"}));
    std::optional<std::vector<Row>> after = Contents(t);
    ASSERT_TRUE(after);
    ASSERT_EQ(after->size(), 3u);
    EXPECT_EQ(std::vector<Row>(after->begin(), after->begin() + 2), before);
    EXPECT_EQ(after->back().values, (std::vector<std::string>{std::string(1400, 'r'), "w4", "s"}));
    report = t.CheckBlocks();
    EXPECT_EQ(report->problems, std::vector<std::string>{});
    EXPECT_EQ(report->used, 5 + 4);
  }
}

}  // namespace
}  // namespace autodeliver
