// The Jet4 writer: the created file, the append path, its refusals, and a
// failed or interrupted replacement, checked against mdbtools and mdb-reader.
#include "store/jet4/jet4_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "jet4_readers.h"
#include "store/file_io.h"
#include "store/jet4/jet4_format.h"
#include "store/jet4/jet4_image.h"

namespace autodeliver {
namespace {

using testing::ReadRow;
using testing::ReadTable;

const std::vector<std::string> kColumns = {"dingdan", "kahao", "mima"};

bool Append(const std::string& path, const std::string& order, FileIo* io = nullptr) {
  return AppendTextRow(path, "biao", kColumns, {order, "card-" + order, "pw-" + order}, io);
}

ReadRow Row(const std::string& order) { return {order, "card-" + order, "pw-" + order}; }

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
  testing::ScratchDir dir;
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
  testing::ScratchDir dir;
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
  jet4::Image image(testing::FileBytes(path));
  jet4::TableDef def = image.ReadTableDef(*image.FindTable(u"biao"));
  EXPECT_EQ(def.rowCount, 300u);
  std::vector<std::uint32_t> pages = image.MapPages(def.usedMap);
  EXPECT_EQ(pages.size(), 2u);
  // The free-space map keeps only the page that can take another row.
  EXPECT_EQ(image.MapPages(def.freeMap), std::vector<std::uint32_t>{pages.back()});
}

TEST(Jet4FileTest, AnInlineUsageMapThatCannotReachANewPageBecomesPaged) {
  testing::ScratchDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  ASSERT_TRUE(Append(path, "first"));
  std::string bytes = testing::FileBytes(path);
  // Rewrite the table's two maps (rows 3 and 4 of page 1) as inline maps from
  // page 0, which reach page 511, and pad the file so the next page is 608.
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
  ExpectReadersSee(path, {Row("first")});

  std::vector<ReadRow> expected = {Row("first")};
  for (int i = 0; i < 60; ++i) {
    std::string order = std::to_string(i) + std::string(200, 'o');
    ASSERT_TRUE(Append(path, order));
    expected.push_back(Row(order));
  }
  ExpectReadersSee(path, expected);
  jet4::Image image(testing::FileBytes(path));
  std::vector<std::uint32_t> pages = image.MapPages(image.ReadTableDef(4).usedMap);
  ASSERT_GE(pages.size(), 2u);
  EXPECT_EQ(pages.front(), 5u);
  EXPECT_GE(pages[1], 608u);
}

TEST(Jet4FileTest, AppendingThroughASymbolicLinkChangesTheFileItNames) {
  testing::ScratchDir dir;
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
  testing::ScratchDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  ASSERT_TRUE(Append(path, "kept"));
  const std::string good = testing::FileBytes(path);
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
    EXPECT_TRUE(testing::FileBytes(path) == c.file) << "file changed";
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  }
}

// Fails one of the file-system steps of the replacement.
class FailingIo : public FileIo {
 public:
  enum class Step { kWrite, kSync, kRename };
  FailingIo(Step step, std::size_t writeBudget) : step_(step), budget_(writeBudget) {}

  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    if (step_ != Step::kWrite) return FileIo::WriteAt(fd, data, size, offset);
    if (budget_ == 0) {
      errno = ENOSPC;
      return -1;
    }
    std::size_t n = std::min(size, budget_);
    budget_ -= n;
    return FileIo::WriteAt(fd, data, n, offset);
  }
  int Sync(int fd) override {
    if (step_ != Step::kSync) return FileIo::Sync(fd);
    errno = EIO;
    return -1;
  }
  int Rename(const char* from, const char* to) override {
    if (step_ != Step::kRename) return FileIo::Rename(from, to);
    errno = EXDEV;
    return -1;
  }

 private:
  Step step_;
  std::size_t budget_;
};

TEST(Jet4FileTest, AFailedWriteLeavesTheOldFile) {
  testing::ScratchDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  ASSERT_TRUE(Append(path, "before"));
  const std::string good = testing::FileBytes(path);
  const std::vector<FailingIo> failures = {
      {FailingIo::Step::kWrite, 0},
      {FailingIo::Step::kWrite, 4096 + 100},  // the disk fills up part-way
      {FailingIo::Step::kSync, 0},
      {FailingIo::Step::kRename, 0},
  };
  for (FailingIo io : failures) {
    EXPECT_FALSE(Append(path, "lost", &io));
    EXPECT_TRUE(testing::FileBytes(path) == good) << "file changed";
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  }
  ExpectReadersSee(path, {Row("before")});
  ASSERT_TRUE(Append(path, "after"));
  ExpectReadersSee(path, {Row("before"), Row("after")});
}

// Ends the process in the middle of writing the new image, as a crash would.
class CrashingIo : public FileIo {
 public:
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    FileIo::WriteAt(fd, data, std::min<std::size_t>(size, 3 * 4096 + 17), offset);
    ::_exit(9);
  }
};

TEST(Jet4FileTest, ACrashInTheMiddleOfAnInsertLeavesAReadableFile) {
  testing::ScratchDir dir;
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  std::vector<ReadRow> expected;
  for (int i = 0; i < 40; ++i) {
    std::string order = std::to_string(i) + std::string(80, 'x');
    ASSERT_TRUE(Append(path, order));
    expected.push_back(Row(order));
  }
  const std::string good = testing::FileBytes(path);
  EXPECT_EXIT(
      {
        CrashingIo io;
        Append(path, "lost", &io);
      },
      ::testing::ExitedWithCode(9), "");
  EXPECT_TRUE(testing::FileBytes(path) == good) << "file changed";
  EXPECT_TRUE(std::filesystem::exists(path + ".new")) << "the crash should have left its side file";
  ExpectReadersSee(path, expected);

  ASSERT_TRUE(Append(path, "after"));
  expected.push_back(Row("after"));
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  ExpectReadersSee(path, expected);
}

TEST(Jet4FileTest, TwoProcessesAppendingAtOnceLoseNoRow) {
  testing::ScratchDir dir;
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
