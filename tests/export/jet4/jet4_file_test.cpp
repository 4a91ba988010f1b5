// The Jet4 writer: the created file, the append path, its refusals, and an
// append that fails or is cut short at each of its writes, checked against
// mdbtools and mdb-reader.
#include "export/jet4/jet4_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "export/jet4/jet4_format.h"
#include "export/jet4/jet4_image.h"
#include "io/file_io.h"
#include "jet4_readers.h"
#include "support/fault_io.h"
#include "support/temp_dir.h"

namespace autodeliver {
namespace {

using testing::ReadRow;
using testing::ReadTable;

const std::vector<std::string> kColumns = {"dingdan", "kahao", "mima"};

Status AppendRow(const std::string& path, const std::string& order, FileIo* io = nullptr) {
  return AppendTextRow(path, "biao", kColumns, {order, "card-" + order, "pw-" + order}, io);
}
bool Append(const std::string& path, const std::string& order, FileIo* io = nullptr) {
  return AppendRow(path, order, io).ok();
}

ReadRow Row(const std::string& order) { return {order, "card-" + order, "pw-" + order}; }

// Rows of 200-character orders: six fill a page.
std::string Long(int i) { return std::to_string(i) + std::string(200, 'o'); }

// The last data page of `biao` and its free space.
std::pair<std::uint32_t, std::size_t> LastPage(const std::string& path) {
  jet4::Image image(testing::ReadFileBytes(path));
  jet4::TableDef def = image.ReadTableDef(*image.FindTable(u"biao"));
  std::uint32_t last = image.MapPages(def.usedMap).back();
  return {last, static_cast<unsigned char>(image.Page(last)[2]) |
                    static_cast<unsigned char>(image.Page(last)[3]) << 8};
}

// Appends long rows until the last page has no room for a row of the
// longest values (about 780 bytes).
void FillLastPage(const std::string& path, std::vector<ReadRow>& rows) {
  while (LastPage(path).second > 700) {
    rows.push_back(Row(Long(static_cast<int>(rows.size()))));
    ASSERT_TRUE(Append(path, *rows.back()[0]));
  }
}

// Rewrites the table's two maps as inline maps from page 0 (reaching page
// 511) and pads the file so that the next page added is page 608.
void MakeMapsInlineAndPad(const std::string& path) {
  std::string bytes = testing::ReadFileBytes(path);
  for (int row : {3, 4}) {
    std::size_t at =
        jet4::kPageSize + (static_cast<unsigned char>(bytes[jet4::kPageSize + 14 + 2 * row]) |
                           static_cast<unsigned char>(bytes[jet4::kPageSize + 15 + 2 * row]) << 8);
    std::string map(69, '\0');
    map[5] = 0x20;  // page 5, the table's data page
    bytes.replace(at, map.size(), map);
  }
  bytes += std::string(600 * jet4::kPageSize, '\0');
  testing::WriteFileBytes(path, bytes);
}

// Both readers open the file and see exactly `rows`, in order, and that many.
void ExpectReadersSee(const std::string& path, const std::vector<ReadRow>& rows) {
  std::optional<ReadTable> mdbtools = testing::ReadWithMdbtools(path, "biao");
  ASSERT_TRUE(mdbtools.has_value()) << "mdbtools cannot read " << path;
  EXPECT_EQ(mdbtools->count, static_cast<long>(rows.size()));
  EXPECT_EQ(mdbtools->rows, rows);
  std::optional<ReadTable> reader = testing::ReadWithMdbReader(path, "biao", kColumns);
  ASSERT_TRUE(reader.has_value()) << "mdb-reader cannot read " << path;
  EXPECT_EQ(reader->count, static_cast<long>(rows.size()));
  EXPECT_EQ(reader->rows, rows);
}

TEST(Jet4TextTest, StoresTextInTheShorterFormAndReadsBothForms) {
  using std::string_literals::operator""s;
  struct Case {
    std::u16string text;
    bool mayCompress;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {u"abc", true,
       "\xFF\xFE"
       "abc"s},
      {u"ab", true, "a\0b\0"s},  // the marker would make it longer
      {u"abc", false, "a\0b\0c\0"s},
      {u"a\u5361c", true,
       "a\0\x61\x53"
       "c\0"s},
      {u"", true, ""s},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(jet4::EncodeText(c.text, c.mayCompress), c.stored);
    EXPECT_EQ(jet4::DecodeText(c.stored), c.text);
  }
  // A 00 byte switches between one-byte and two-byte characters.
  EXPECT_EQ(jet4::DecodeText("\xFF\xFE"
                             "a\0\x34\x12\0b"s),
            u"a\u1234b");
}

TEST(Jet4FileTest, CreatedFileHoldsTheEmptyCardTable) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  ExpectReadersSee(path, {});
  char buf[256] = {};
  FILE* pipe = ::popen(("mdb-schema '" + path + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string schema;
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) schema.append(buf, n);
  ::pclose(pipe);
  for (const char* column : {"[dingdan]", "[kahao]", "[mima]"}) {
    std::size_t at = schema.find(column);
    ASSERT_NE(at, std::string::npos) << schema;
    EXPECT_EQ(schema.substr(at, schema.find('\n', at) - at).find("Text (255)") != std::string::npos, true)
        << schema;
  }
  EXPECT_EQ(schema.find("INDEX"), std::string::npos) << schema;
}

TEST(Jet4FileTest, RowsPastThe255PerPageLimitGoOnNewPages) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  // Rows of empty values are small enough that the row-number limit, not the
  // space, ends a page.
  std::vector<ReadRow> expected;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(AppendTextRow(path, "BIAO", {"MIMA", "kahao", "dingdan"}, {"", "", std::to_string(i)}));
    expected.push_back({std::to_string(i), "", ""});
  }
  ExpectReadersSee(path, expected);
  jet4::Image image(testing::ReadFileBytes(path));
  jet4::TableDef def = image.ReadTableDef(*image.FindTable(u"biao"));
  EXPECT_EQ(def.rowCount, 300u);
  std::vector<std::uint32_t> pages = image.MapPages(def.usedMap);
  EXPECT_EQ(pages.size(), 2u);
  // The free-space map keeps only the page that can take another row.
  EXPECT_EQ(image.MapPages(def.freeMap), std::vector<std::uint32_t>{pages.back()});
}

TEST(Jet4FileTest, RowsAppendedTogetherGoInWholeAndInOrderOrNotAtAll) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  ASSERT_TRUE(Append(path, "first"));
  // Enough long rows to spill over several new pages in one change.
  std::vector<std::vector<std::string>> rows;
  std::vector<ReadRow> expected = {Row("first")};
  for (int i = 0; i < 20; ++i) {
    rows.push_back({Long(i), "card-" + Long(i), "pw-" + Long(i)});
    expected.push_back(Row(Long(i)));
  }
  ASSERT_TRUE(AppendTextRows(path, "biao", kColumns, rows));
  ExpectReadersSee(path, expected);
  EXPECT_EQ(Jet4RowCount(path, "biao"), 21u);

  // One row that cannot be stored keeps the others out too.
  const std::string before = testing::ReadFileBytes(path);
  EXPECT_FALSE(AppendTextRows(path, "biao", kColumns,
                              {{"a", "b", "c"}, {"d", std::string(256, 'x'), "f"}, {"g", "h", "i"}}));
  EXPECT_TRUE(testing::ReadFileBytes(path) == before) << "file changed";
  EXPECT_TRUE(AppendTextRows(path, "biao", kColumns, {}));
  EXPECT_TRUE(testing::ReadFileBytes(path) == before) << "file changed";
}

// The hook called just before the change: it gets the row count before the
// rows; its failure is the append's and leaves the file alone; rows that
// cannot go in never reach it.
TEST(Jet4FileTest, TheHookBeforeTheChangeGetsTheRowCountAndCanStopIt) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  ASSERT_TRUE(Append(path, "first"));
  std::vector<std::uint32_t> counts;
  auto noting = [&counts](std::uint32_t n) {
    counts.push_back(n);
    return Status();
  };
  ASSERT_TRUE(AppendTextRows(path, "biao", kColumns, {{"a", "b", "c"}, {"d", "e", "f"}}, nullptr, noting));
  ASSERT_TRUE(AppendTextRows(path, "biao", kColumns, {{"g", "h", "i"}}, nullptr, noting));
  EXPECT_EQ(counts, (std::vector<std::uint32_t>{1, 3}));

  const std::string before = testing::ReadFileBytes(path);
  const Status refused = AppendTextRows(path, "biao", kColumns, {{"j", "k", "l"}}, nullptr,
                                        [](std::uint32_t) { return Status::IoError("journal", ENOSPC); });
  EXPECT_EQ(refused.error(), ENOSPC);
  EXPECT_TRUE(testing::ReadFileBytes(path) == before) << "file changed";
  EXPECT_FALSE(AppendTextRows(path, "biao", kColumns, {{"m", std::string(256, 'x'), "o"}}, nullptr, noting));
  EXPECT_EQ(counts.size(), 2u) << "called for rows that could not go in";
  EXPECT_EQ(Jet4RowCount(path, "biao"), 4u);
}

TEST(Jet4FileTest, AnInlineUsageMapThatCannotReachANewPageBecomesPaged) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  ASSERT_TRUE(Append(path, "first"));
  MakeMapsInlineAndPad(path);
  ExpectReadersSee(path, {Row("first")});

  std::vector<ReadRow> expected = {Row("first")};
  for (int i = 0; i < 60; ++i) {
    std::string order = std::to_string(i) + std::string(200, 'o');
    ASSERT_TRUE(Append(path, order));
    expected.push_back(Row(order));
  }
  ExpectReadersSee(path, expected);
  jet4::Image image(testing::ReadFileBytes(path));
  std::vector<std::uint32_t> pages = image.MapPages(image.ReadTableDef(4).usedMap);
  ASSERT_GE(pages.size(), 2u);
  EXPECT_EQ(pages.front(), 5u);
  EXPECT_GE(pages[1], 608u);
}

TEST(Jet4FileTest, AppendingThroughASymbolicLinkChangesTheFileItNames) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.path() + "/shared");
  std::string target = dir.path() + "/shared/cards.mdb";
  std::string link = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(target));
  std::filesystem::create_symlink(target, link);
  ASSERT_TRUE(Append(link, "linked"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  ExpectReadersSee(target, {Row("linked")});
}

TEST(Jet4FileTest, RefusesWhatItCannotWriteAndLeavesTheFileAlone) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  ASSERT_TRUE(Append(path, "kept"));
  const std::string good = testing::ReadFileBytes(path);
  auto patched = [&](std::size_t at, std::string bytes) {
    std::string copy = good;
    copy.replace(at, bytes.size(), bytes);
    return copy;
  };
  const std::size_t tdef = 4 * jet4::kPageSize;
  const std::size_t firstColumn = tdef + jet4::kTdefIndexEntries;

  struct Case {
    const char* what;
    std::string file;  // the file's bytes; empty = no file
    std::string table = "biao";
    std::vector<std::string> columns = kColumns;
    std::vector<std::string> values = {"1", "2", "3"};
  };
  const std::vector<Case> cases = {
      {"missing file", ""},
      {"a text file", "dingdan,kahao,mima\n1,2,3\n"},
      {"too short", good.substr(0, 2 * jet4::kPageSize)},
      {"Jet3 version", patched(jet4::kVersionOffset, std::string("\0", 1))},
      {"masked pages", patched(jet4::kMaskedStart + 0x3E - 0x18, "\x55")},
      {"no such table", good, "biao2"},
      {"no such column", good, "biao", {"dingdan", "kahao", "mima2"}},
      {"column named twice", good, "biao", {"dingdan", "kahao", "kahao"}},
      {"counts differ", good, "biao", kColumns, {"1", "2"}},
      {"value too long", good, "biao", kColumns, {"1", std::string(256, 'x'), "3"}},
      {"value not GBK", good, "biao", kColumns, {"1", "\xFF\xFF", "3"}},
      {"table with an index", patched(tdef + jet4::kTdefLogicalIndexes, "\x01")},
      {"auto-number column", patched(firstColumn + jet4::kColumnFlags, "\x06")},
      {"not a text column", patched(firstColumn + jet4::kColumnType, "\x04")},
      {"used map points past the end",
       patched(tdef + jet4::kTdefUsedMap, std::string("\x00\x00\x01\x00", 4))},
      {"table definition page of the wrong kind", patched(tdef, "\x01")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path);
    if (!c.file.empty()) testing::WriteFileBytes(path, c.file);
    EXPECT_FALSE(AppendTextRow(path, c.table, c.columns, c.values));
    EXPECT_TRUE(testing::ReadFileBytes(path) == c.file) << "file changed";
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  }
}

// No journal, or one cleared: its first 8 bytes are zero.
bool JournalCleared(const std::string& path) {
  if (!std::filesystem::exists(path + ".journal")) return true;
  std::string head = testing::ReadFileBytes(path + ".journal").substr(0, 8);
  return head.find_first_not_of('\0') == std::string::npos;
}

TEST(Jet4FileTest, AFailedWriteOrFlushLeavesTheOldFile) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  // The last page is full for a row of the longest values: the append needs
  // room for a new page of the file and for the journal's first record.
  std::vector<ReadRow> expected;
  FillLastPage(path, expected);
  const std::string lost = "lost" + std::string(246, 'l');
  const std::string good = testing::ReadFileBytes(path);
  // The disk fills up after every amount of written bytes, in steps, until
  // the append fits; then each flush fails in turn.
  int failures = 0;
  for (std::size_t budget = 0;; budget += 1000) {
    std::filesystem::remove(path + ".journal");
    // Room for `budget` more bytes: a write past it puts down what fits.
    testing::FaultIo io;
    io.room = budget;
    const Status appended = AppendRow(path, lost, &io);
    if (appended) {
      ASSERT_GE(budget, 3 * 4096u) << "a new page, a journal of two pages or more";
      break;
    }
    EXPECT_TRUE(appended.IsDiskFull()) << "budget " << budget << ": " << appended.ToString();
    ++failures;
    ASSERT_TRUE(testing::ReadFileBytes(path) == good) << "file changed, budget " << budget;
    EXPECT_TRUE(JournalCleared(path)) << "budget " << budget;
  }
  EXPECT_GE(failures, 12);
  expected.push_back(Row(lost));
  ExpectReadersSee(path, expected);
  const std::string withLost = testing::ReadFileBytes(path);
  for (int n = 1;; ++n) {
    testing::FaultIo io;
    io.failSync = n;
    const Status appended = AppendRow(path, "lost-" + std::to_string(n), &io);
    if (appended) {
      ASSERT_GE(n, 3) << "the journal and the file are both flushed";
      expected.push_back(Row("lost-" + std::to_string(n)));
      break;
    }
    EXPECT_EQ(appended.error(), EIO) << appended.ToString();
    EXPECT_TRUE(appended.path() == std::filesystem::canonical(path).string() ||
                appended.path() == std::filesystem::canonical(path).string() + ".journal")
        << "flush " << n << " names " << appended.path();
    ASSERT_TRUE(testing::ReadFileBytes(path) == withLost) << "file changed, flush " << n;
    EXPECT_TRUE(JournalCleared(path));
  }
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  ASSERT_TRUE(Append(path, "after"));
  expected.push_back(Row("after"));
  ExpectReadersSee(path, expected);
}

TEST(Jet4FileTest, ACrashWritingTheJournalLeavesTheFileAndATornJournalThatIsDropped) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  std::vector<ReadRow> expected;
  for (int i = 0; i < 40; ++i) {
    std::string order = std::to_string(i) + std::string(80, 'x');
    ASSERT_TRUE(Append(path, order));
    expected.push_back(Row(order));
  }
  const std::string good = testing::ReadFileBytes(path);
  // A side file left by an earlier version of the writer is stale.
  testing::WriteFileBytes(path + ".new", good.substr(0, 4096));
  EXPECT_EXIT(
      {
        // The process ends in the middle of writing the journal's first page.
        testing::FaultIo io;
        io.crashAtWrite = 1;
        io.crashLands = 4096 + 17;
        io.crashExitCode = 9;
        Append(path, "lost", &io);
      },
      ::testing::ExitedWithCode(9), "");
  EXPECT_TRUE(testing::ReadFileBytes(path) == good) << "file changed";
  EXPECT_FALSE(JournalCleared(path)) << "the crash should have left its torn journal";
  ExpectReadersSee(path, expected);

  ASSERT_TRUE(Append(path, "after"));
  expected.push_back(Row("after"));
  EXPECT_TRUE(JournalCleared(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  ExpectReadersSee(path, expected);
}

// How an append is stopped at one of its writes (or truncations): the write
// fails after putting down half of it, or the process ends right after the
// write (a kill), or after putting down half of it (a power cut tearing a
// page).
enum class Stop { kFail, kKillAfter, kTearAndKill };

testing::FaultIo StoppedAt(Stop mode, int write) {
  testing::FaultIo io;
  if (mode == Stop::kFail) {
    io.failWrite = write;
  } else {
    io.crashAtWrite = write;
    io.crashLands = mode == Stop::kKillAfter ? testing::FaultIo::kAll : testing::FaultIo::kHalf;
  }
  return io;
}

TEST(Jet4FileTest, AnAppendStoppedAtEachWriteLeavesTheEarlierRowsAndTheNextAppendSettlesIt) {
  // The row appended and stopped: the longest values the columns take.
  const std::string kNew(250, 'n');
  struct Fixture {
    const char* what;
    std::function<void(const std::string&, std::vector<ReadRow>&)> make;
    bool newPage;  // the row needs a page added at the end
  };
  const std::vector<Fixture> fixtures = {
      {"row on the last page",
       [](const std::string& path, std::vector<ReadRow>& rows) {
         for (int i = 0; i < 3; ++i) {
           rows.push_back(Row(Long(i)));
           ASSERT_TRUE(Append(path, *rows.back()[0]));
         }
       },
       false},
      {"row on a new page",
       [](const std::string& path, std::vector<ReadRow>& rows) { FillLastPage(path, rows); }, true},
      {"row on a new page out of the inline maps' reach",
       [](const std::string& path, std::vector<ReadRow>& rows) {
         rows.push_back(Row("first"));
         ASSERT_TRUE(Append(path, "first"));
         MakeMapsInlineAndPad(path);
         FillLastPage(path, rows);
       },
       true},
  };
  testing::TempDir dir;
  const std::string path = dir.path() + "/card.mdb";
  for (const Fixture& f : fixtures) {
    SCOPED_TRACE(f.what);
    std::filesystem::remove(path + ".journal");
    ASSERT_TRUE(CreateCardDatabase(path));
    std::vector<ReadRow> earlier;
    f.make(path, earlier);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    const std::string before = testing::ReadFileBytes(path);
    const std::uint32_t lastBefore = LastPage(path).first;

    // The writes of a whole append, and where the row lands.
    testing::FaultIo counter;
    ASSERT_TRUE(Append(path, kNew, &counter));
    EXPECT_EQ(LastPage(path).first != lastBefore, f.newPage);
    const int writes = counter.writes;
    ASSERT_GE(writes, 4) << "journal, data page, definition, journal cleared";
    std::vector<ReadRow> withNew = earlier;
    withNew.push_back(Row(kNew));
    ExpectReadersSee(path, withNew);

    for (Stop mode : {Stop::kFail, Stop::kKillAfter, Stop::kTearAndKill}) {
      for (int k = 1; k <= writes; ++k) {
        const char* kModeNames[] = {"failed", "killed after", "torn and killed at"};
        SCOPED_TRACE(std::string(kModeNames[static_cast<int>(mode)]) + " write " + std::to_string(k) +
                     " of " + std::to_string(writes));
        testing::WriteFileBytes(path, before);
        std::filesystem::remove(path + ".journal");
        bool hasNew;
        if (mode == Stop::kFail) {
          testing::FaultIo io = StoppedAt(mode, k);
          hasNew = Append(path, kNew, &io);
          // Only clearing the journal may fail once the change is whole.
          EXPECT_EQ(hasNew, k == writes);
          if (!hasNew) {
            EXPECT_TRUE(testing::ReadFileBytes(path) == before) << "file changed";
          }
        } else {
          pid_t child = ::fork();
          ASSERT_GE(child, 0);
          if (child == 0) {
            testing::FaultIo io = StoppedAt(mode, k);
            Append(path, kNew, &io);
            ::_exit(1);
          }
          int status = 0;
          ASSERT_EQ(::waitpid(child, &status, 0), child);
          ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the append was not stopped";
          // The change stays when every page reached the file whole: after
          // the last page write (the one before clearing the journal).
          hasNew = mode == Stop::kKillAfter && k >= writes - 1;
        }
        if (mode != Stop::kTearAndKill) {
          // As found, before any settling: both readers read every earlier
          // row, then the new one or nothing; the row count is the old or
          // the new one.
          for (int reader = 0; reader < 2; ++reader) {
            std::optional<ReadTable> read = reader == 0 ? testing::ReadWithMdbtools(path, "biao")
                                                        : testing::ReadWithMdbReader(path, "biao", kColumns);
            ASSERT_TRUE(read.has_value()) << "reader " << reader << " cannot read the file";
            EXPECT_TRUE(read->rows == earlier || read->rows == withNew) << "reader " << reader;
            EXPECT_TRUE(read->count == static_cast<long>(earlier.size()) ||
                        read->count == static_cast<long>(read->rows.size()))
                << "reader " << reader << " count " << read->count;
            if (mode == Stop::kFail || k == 1) {
              EXPECT_EQ(read->rows, hasNew ? withNew : earlier) << "reader " << reader;
            }
          }
        }
        if (mode == Stop::kTearAndKill) {
          // What the start of the program does before anything reads the
          // file: settled, it reads in mdbtools with the earlier rows, with
          // or without the new one, before any further append.
          ASSERT_TRUE(SettleJet4File(path));
          EXPECT_TRUE(JournalCleared(path));
          std::optional<ReadTable> read = testing::ReadWithMdbtools(path, "biao");
          ASSERT_TRUE(read.has_value()) << "mdbtools cannot read the settled file";
          EXPECT_TRUE(read->rows == earlier || read->rows == withNew);
          EXPECT_EQ(read->count, static_cast<long>(read->rows.size()));
        }
        // The next append settles what the stop left, then adds its row.
        ASSERT_TRUE(Append(path, "next"));
        EXPECT_TRUE(JournalCleared(path));
        std::vector<ReadRow> expected = hasNew ? withNew : earlier;
        if (mode == Stop::kTearAndKill) {
          // A torn page whose changed bytes all reached the file holds its
          // new image, and the change counts as finished; any other is undone.
          std::optional<ReadTable> read = testing::ReadWithMdbReader(path, "biao", kColumns);
          ASSERT_TRUE(read.has_value());
          if (read->rows.size() == withNew.size() + 1) expected = withNew;
        }
        expected.push_back(Row("next"));
        ExpectReadersSee(path, expected);
      }
    }
  }
}

TEST(Jet4FileTest, TwoProcessesAppendingAtOnceLoseNoRow) {
  testing::TempDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  constexpr int kEach = 60;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool ok = true;
    for (int i = 0; i < kEach; ++i) ok = Append(path, "child-" + std::to_string(i)) && ok;
    ::_exit(ok ? 0 : 1);
  }
  bool ok = true;
  for (int i = 0; i < kEach; ++i) ok = Append(path, "parent-" + std::to_string(i)) && ok;
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::optional<ReadTable> read = testing::ReadWithMdbReader(path, "biao", kColumns);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->count, 2 * kEach);
  // Each writer's rows are all there, in the order it wrote them.
  for (const std::string who : {"child-", "parent-"}) {
    std::vector<ReadRow> mine;
    for (const ReadRow& row : read->rows) {
      if (row[0] && row[0]->rfind(who, 0) == 0) mine.push_back(row);
    }
    std::vector<ReadRow> expected;
    for (int i = 0; i < kEach; ++i) expected.push_back(Row(who + std::to_string(i)));
    EXPECT_EQ(mine, expected);
  }
}

}  // namespace
}  // namespace autodeliver
