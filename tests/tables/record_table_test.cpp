#include "tables/record_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "../store/table_files.h"
#include "support/fault_io.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::Get32;
using testing::Put32;
using testing::RawBlock;
using testing::RawBlock0;
using testing::RawField;
using testing::RawHeader;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr int kData2 = 116 + 2 * 72;

// Two fixed-width text fields: A (width 8 at 4), B (width 4 at 12).
std::string FixedTable(const std::vector<std::pair<std::int32_t, std::string>>& records,
                       std::int32_t nextId) {
  std::string b =
      RawHeader({{"A", 10, 4, 8}, {"B", 10, 12, 4}}, static_cast<std::int32_t>(records.size()), nextId, 16);
  for (const auto& [id, a] : records) {
    std::string rec(16, '\0');
    Put32(rec, 0, id);
    std::memcpy(rec.data() + 4, a.data(), std::min<std::size_t>(a.size(), 8));
    b += rec;
  }
  return b;
}

std::vector<std::string> ReadAll(RecordTable& t, const std::string& field) {
  std::vector<std::string> out;
  std::int32_t n = t.RecordCount();
  t.GoTo(1);
  for (std::int32_t i = 0; i < n; ++i, t.Skip()) out.push_back(t.Read(field));
  return out;
}

std::vector<std::int32_t> Ids(RecordTable& t) {
  std::vector<std::int32_t> out;
  std::int32_t n = t.RecordCount();
  t.GoTo(1);
  for (std::int32_t i = 0; i < n; ++i, t.Skip()) out.push_back(t.RecordId());
  return out;
}

TEST(RecordTableOpen, RefusesDamagedHeadersAndFieldLists) {
  TempDir dir;
  const std::string good = FixedTable({{1, "x"}}, 2);
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"magic", [](std::string& b) { b[0] = 'X'; }},
      {"newer version", [](std::string& b) { Put32(b, 4, 0x10001); }},
      {"record size 0", [](std::string& b) { Put32(b, 24, 0); }},
      {"negative count", [](std::string& b) { Put32(b, 16, -1); }},
      {"next id 0", [](std::string& b) { Put32(b, 20, 0); }},
      {"field count 0", [](std::string& b) { Put32(b, 112, 0); }},
      {"field count past the file", [](std::string& b) { Put32(b, 112, 1000); }},
      {"name without zero", [](std::string& b) { std::memset(b.data() + 116, 'n', 17); }},
      {"type 0", [](std::string& b) { Put32(b, 116 + 20, 0); }},
      {"type 13", [](std::string& b) { Put32(b, 116 + 20, 13); }},
      {"width 0", [](std::string& b) { Put32(b, 116 + 28, 0); }},
      {"negative offset", [](std::string& b) { Put32(b, 116 + 24, -4); }},
      {"field past the record", [](std::string& b) { Put32(b, 116 + 72 + 24, 13); }},
      {"cut inside the header", [](std::string& b) { b.resize(60); }},
      {"cut inside the descriptors", [](std::string& b) { b.resize(200); }},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    c.damage(bytes);
    std::string path = dir / "t.edb";
    WriteFileBytes(path, bytes);
    RecordTable t;
    EXPECT_FALSE(t.Open(path)) << c.what;
  }
  RecordTable t;
  EXPECT_FALSE(t.Open(dir / "missing.edb"));
  EXPECT_FALSE(t.Open(""));
  WriteFileBytes(dir / "t.edb", good);
  EXPECT_TRUE(t.Open(dir / "t.edb"));
}

TEST(RecordTableOpen, CutsPartialRecordsAndLowersTheCount) {
  TempDir dir;
  std::string path = dir / "t.edb";
  // Two whole records and two trailing bytes.
  WriteFileBytes(path, FixedTable({{1, "one"}, {2, "two"}}, 3) + std::string(2, '\x7f'));
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(path));
    EXPECT_EQ(t.RecordCount(), 2);
    EXPECT_EQ(ReadAll(t, "a"), (std::vector<std::string>{"one", "two"}));
  }
  EXPECT_EQ(ReadFileBytes(path).size(), static_cast<std::size_t>(kData2 + 2 * 16));

  // The header claims five records, three and a half are present.
  std::string bytes = FixedTable({{1, "a"}, {2, "b"}, {3, "c"}}, 6) + std::string(8, '\0');
  Put32(bytes, 16, 5);
  WriteFileBytes(path, bytes);
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(path));
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(t.NextRecordId(), 6);
  }
  std::string after = ReadFileBytes(path);
  EXPECT_EQ(Get32(after, 16), 3);
  EXPECT_EQ(after.size(), static_cast<std::size_t>(kData2 + 3 * 16));
}

TEST(RecordTableText, FixedWidthTextHandWrittenAndAppended) {
  TempDir dir;
  std::string path = dir / "t.edb";
  // A holds exactly 8 bytes without a terminating zero; B follows at once.
  std::string bytes = FixedTable({{1, "12345678"}}, 2);
  std::memcpy(bytes.data() + kData2 + 12, "wxyz", 4);
  WriteFileBytes(path, bytes);
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  EXPECT_EQ(t.Read("A"), "12345678");
  EXPECT_EQ(t.Read("b"), "wxyz");  // names match without regard to case

  // Exactly the width: stored without a zero.
  ASSERT_TRUE(t.Append({"abcdefgh", "ab"}));
  EXPECT_EQ(t.Read("A"), "abcdefgh");
  // Too long: cut to the width by default...
  ASSERT_TRUE(t.Append({"abcdefghi"}));
  EXPECT_EQ(t.Read("A"), "abcdefgh");
  // ...or refused when asked, and nothing is written.
  t.SetCutOverlongText(false);
  EXPECT_FALSE(t.Append({"abcdefghi"}));
  EXPECT_EQ(t.RecordCount(), 3);
  t.GoTo(2);
  EXPECT_FALSE(t.Modify({std::nullopt, "12345"}));
  EXPECT_EQ(t.Read("B"), "ab");
  t.Close();

  // Modify writes the text and one zero; the old bytes behind stay.
  std::string raw = ReadFileBytes(path);
  EXPECT_EQ(raw.substr(kData2 + 16 + 4, 8), "abcdefgh");
  ASSERT_TRUE(t.Open(path));
  t.GoTo(2);
  ASSERT_TRUE(t.Modify({"xy"}));
  t.Close();
  raw = ReadFileBytes(path);
  EXPECT_EQ(raw.substr(kData2 + 16 + 4, 8), std::string("xy\0defgh", 8));
  EXPECT_EQ(Get32(raw, kData2 + 16), 2);  // id untouched
}

// Over-long text is cut at a character boundary: a double-byte character
// that does not fit whole is left out, and the zero follows what was kept.
TEST(RecordTableText, OverlongTextIsCutBetweenCharacters) {
  TempDir dir;
  std::string path = dir / "t.edb";
  WriteFileBytes(path, FixedTable({}, 1));
  struct Case {
    std::string a, b;          // written into A (width 8) and B (width 4)
    std::string keptA, keptB;  // read back
  } cases[] = {
      {"中文中文"_gbk, "中文"_gbk, "中文中文"_gbk, "中文"_gbk},  // exactly the width
      {"中文中文x"_gbk, "a中文"_gbk, "中文中文"_gbk, "a中"_gbk},
      {"x中文中文"_gbk, "abc中"_gbk, "x中文中"_gbk, "abc"},
      {"abcdefg中"_gbk, "中中中"_gbk, "abcdefg", "中中"_gbk},
  };
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  for (const Case& c : cases) {
    ASSERT_TRUE(t.Append({c.a, c.b})) << GbkToUtf8Lossy(c.a);
    EXPECT_EQ(t.Read("A"), c.keptA) << GbkToUtf8Lossy(c.a);
    EXPECT_EQ(t.Read("B"), c.keptB) << GbkToUtf8Lossy(c.b);
  }
  t.Close();
  // On disk: the kept bytes, then a zero unless they fill the field.
  std::string raw = ReadFileBytes(path);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::size_t rec = kData2 + 16 * i;
    EXPECT_EQ(raw.substr(rec + 4, c.keptA.size()), c.keptA);
    if (c.keptA.size() < 8) {
      EXPECT_EQ(raw[rec + 4 + c.keptA.size()], '\0');
    }
    EXPECT_EQ(raw.substr(rec + 12, c.keptB.size()), c.keptB);
    if (c.keptB.size() < 4) {
      EXPECT_EQ(raw[rec + 12 + c.keptB.size()], '\0');
    }
  }
}

// A table with a long text N (type 12) and a byte array D (type 11).
struct LongFixture {
  TempDir dir;
  std::string path = dir / "l.edb";
  std::string companion = dir / "l.edt";

  void Write(const std::vector<std::pair<std::int32_t, std::int32_t>>& firstBlocks,
             const std::string& blocks) {
    std::string b =
        RawHeader({{"N", 12, 4, 0}, {"D", 11, 8, 0}}, static_cast<std::int32_t>(firstBlocks.size()),
                  static_cast<std::int32_t>(firstBlocks.size()) + 1, 12);
    std::int32_t id = 1;
    for (auto [n, d] : firstBlocks) {
      std::string rec(12, '\0');
      Put32(rec, 0, id++);
      Put32(rec, 4, n);
      Put32(rec, 8, d);
      b += rec;
    }
    WriteFileBytes(path, b);
    WriteFileBytes(companion, blocks);
  }
};

TEST(RecordTableText, LongTextAndBytesFollowHandWrittenChains) {
  LongFixture f;
  std::string first500(500, 'a');
  // Record 1: N spans blocks 1 -> 2 (500 + 3 bytes); D is block 3 with a
  // zero inside. Record 2: N has a zero in the middle, D is empty.
  std::string blocks = RawBlock0(5) + RawBlock(2, first500) + RawBlock(0, "bcd") +
                       RawBlock(-1, std::string("x\0y", 3)) + RawBlock(0, std::string("te\0xt", 5));
  f.Write({{1, 3}, {4, 0}}, blocks);
  RecordTable t;
  ASSERT_TRUE(t.Open(f.path));
  EXPECT_EQ(t.Read("N"), first500 + "bcd");
  EXPECT_EQ(t.Read("D"), std::string("x\0y", 3));
  t.Skip();
  EXPECT_EQ(t.Read("N"), "te");
  EXPECT_EQ(t.ReadText("D"), std::string());
}

TEST(RecordTableText, DamagedChainsFailTheReadNotTheProcess) {
  struct Case {
    const char* what;
    std::string blocks;
    std::int32_t first;
  } cases[] = {
      {"loop", RawBlock0(3) + RawBlock(2, "a") + RawBlock(1, "b"), 1},
      {"self loop", RawBlock0(2) + RawBlock(1, "a"), 1},
      {"next past the file", RawBlock0(2) + RawBlock(7, "a"), 1},
      {"first past the file", RawBlock0(2) + RawBlock(0, "a"), 9},
      {"first is block 0", RawBlock0(2) + RawBlock(0, "a"), 0x7fffffff},
      {"length over a block", RawBlock0(2) + RawBlock(0, "a", 501), 1},
      {"negative length", RawBlock0(2) + RawBlock(0, "a", -3), 1},
  };
  for (const Case& c : cases) {
    LongFixture f;
    f.Write({{c.first, 0}}, c.blocks);
    RecordTable t;
    ASSERT_TRUE(t.Open(f.path)) << c.what;
    EXPECT_EQ(t.ReadText("N"), std::nullopt) << c.what;
    EXPECT_EQ(t.Read("N"), "") << c.what;
  }
}

TEST(RecordTableText, CompanionFileIsCheckedAndAdjustedAtOpen) {
  struct Case {
    const char* what;
    std::string blocks;
  } cases[] = {
      {"missing", ""},
      {"magic", "XEDT" + RawBlock0(1).substr(4)},
      {"version differs", RawBlock0(1, 0, 0, 0x0FFFF)},
      {"block count 0", RawBlock0(0)},
      {"free head out of range", RawBlock0(2, 2) + RawBlock(0, "")},
      {"free count out of range", RawBlock0(2, 0, 5) + RawBlock(0, "")},
      {"shorter than block 0", RawBlock0(1).substr(0, 20)},
  };
  for (const Case& c : cases) {
    LongFixture f;
    f.Write({}, c.blocks);
    if (c.blocks.empty()) std::remove(f.companion.c_str());
    RecordTable t;
    EXPECT_FALSE(t.Open(f.path)) << c.what;
  }
  // Block count 4, but only block 0, block 1 and half a block are there.
  LongFixture f;
  f.Write({{1, 0}}, RawBlock0(4) + RawBlock(0, "ok") + std::string(200, '\0'));
  RecordTable t;
  ASSERT_TRUE(t.Open(f.path));
  EXPECT_EQ(t.Read("N"), "ok");
  t.Close();
  EXPECT_EQ(Get32(ReadFileBytes(f.companion), 16), 2);
}

TEST(RecordTableIds, AppendMarkAndPurge) {
  TempDir dir;
  std::string path = dir / "t.edb";
  WriteFileBytes(path, FixedTable({}, 1));
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  for (const char* v : {"r1", "r2", "r3"}) ASSERT_TRUE(t.Append({v}));
  EXPECT_EQ(Ids(t), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(t.NextRecordId(), 4);

  t.GoTo(2);
  ASSERT_TRUE(t.MarkDeleted());
  ASSERT_TRUE(t.MarkDeleted());  // a second mark does not flip it back
  EXPECT_EQ(Ids(t), (std::vector<std::int32_t>{1, -2, 3}));
  EXPECT_EQ(t.Read("A"), "");  // cursor behind the last record after the scan
  t.GoTo(2);
  EXPECT_EQ(t.Read("A"), "r2");  // a marked record can still be read

  ASSERT_TRUE(t.Purge());
  EXPECT_EQ(t.RecordNumber(), 1);
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(t.NextRecordId(), 4);
  EXPECT_EQ(Ids(t), (std::vector<std::int32_t>{1, 3}));
  EXPECT_EQ(ReadAll(t, "A"), (std::vector<std::string>{"r1", "r3"}));
  t.Close();
  EXPECT_EQ(ReadFileBytes(path).size(), static_cast<std::size_t>(kData2 + 2 * 16));
  EXPECT_FALSE(std::filesystem::exists(path + ".purge"));
}

// A purge cut short leaves its journal beside the table; the next access
// finishes the rewrite, or drops a journal that was never completed.
TEST(RecordTableCrash, InterruptedPurgeIsFinishedOrUndone) {
  auto record = [](std::int32_t id, const std::string& a) {
    std::string rec(16, '\0');
    Put32(rec, 0, id);
    std::memcpy(rec.data() + 4, a.data(), a.size());
    return rec;
  };
  auto journal = [&](bool complete) {
    std::string j(16, '\0');
    if (complete) std::memcpy(j.data(), "WPRG", 4);
    Put32(j, 4, 16);
    Put32(j, 8, 1);   // record 2 was the first removed
    Put32(j, 12, 3);  // a, c, d stay
    return j + record(3, "c") + record(4, "d");
  };
  const std::string original = FixedTable({{1, "a"}, {-2, "b"}, {3, "c"}, {4, "d"}}, 5);
  // Half rewritten: c has moved down, d not yet, the count still says 4.
  const std::string halfway = FixedTable({{1, "a"}, {3, "c"}, {3, "c"}, {4, "d"}}, 5);
  struct Case {
    const char* what;
    std::string table, journal;
    std::vector<std::string> values;
    std::vector<std::int32_t> ids;
    bool openFirst;  // the journal appears while the table is open elsewhere
  } cases[] = {
      {"complete, applied half way", halfway, journal(true), {"a", "c", "d"}, {1, 3, 4}, false},
      {"complete, not applied yet", original, journal(true), {"a", "c", "d"}, {1, 3, 4}, false},
      {"never completed", original, journal(false), {"a", "b", "c", "d"}, {1, -2, 3, 4}, false},
      {"found by a later access", halfway, journal(true), {"a", "c", "d"}, {1, 3, 4}, true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string path = dir / "t.edb";
    WriteFileBytes(path, c.table);
    RecordTable t;
    if (c.openFirst) {
      ASSERT_TRUE(t.Open(path)) << c.what;
    }
    WriteFileBytes(path + ".purge", c.journal);
    if (!c.openFirst) {
      ASSERT_TRUE(t.Open(path)) << c.what;
    }
    EXPECT_EQ(ReadAll(t, "A"), c.values) << c.what;
    EXPECT_EQ(Ids(t), c.ids) << c.what;
    EXPECT_FALSE(std::filesystem::exists(path + ".purge")) << c.what;
    t.Close();
    EXPECT_EQ(ReadFileBytes(path).size(), kData2 + 16 * c.values.size()) << c.what;
  }
}

TEST(RecordTableIds, PurgeKeepsOrderAcrossChunks) {
  // Records of 16 bytes, 10240 to a chunk: 25000 records span three chunks.
  TempDir dir;
  std::string path = dir / "t.edb";
  std::vector<std::pair<std::int32_t, std::string>> recs;
  for (int i = 1; i <= 25000; ++i) recs.push_back({i % 3 == 0 ? -i : i, std::to_string(i)});
  WriteFileBytes(path, FixedTable(recs, 25001));
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  ASSERT_TRUE(t.Purge());
  std::vector<std::string> expected;
  for (int i = 1; i <= 25000; ++i)
    if (i % 3 != 0) expected.push_back(std::to_string(i));
  EXPECT_EQ(ReadAll(t, "A"), expected);
}

TEST(RecordTableCursor, GoToSkipFindAndMarkWhere) {
  TempDir dir;
  std::string path = dir / "t.edb";
  WriteFileBytes(path, FixedTable({}, 1));
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  EXPECT_FALSE(t.GoTo(1));
  EXPECT_FALSE(t.Skip());
  for (const char* v : {"a", "b", "a", "c"}) ASSERT_TRUE(t.Append({v}));

  EXPECT_TRUE(t.GoTo(99));
  EXPECT_EQ(t.RecordNumber(), 4);
  EXPECT_TRUE(t.GoTo(-5));
  EXPECT_EQ(t.RecordNumber(), 1);
  EXPECT_TRUE(t.Skip(-1));
  EXPECT_EQ(t.RecordNumber(), 0);
  EXPECT_FALSE(t.Skip(-1));
  EXPECT_TRUE(t.Skip(10));
  EXPECT_EQ(t.RecordNumber(), 5);
  EXPECT_FALSE(t.Skip());
  EXPECT_FALSE(t.Modify({"z"}));
  EXPECT_FALSE(t.MarkDeleted());

  auto isA = [](RecordTable& r) { return r.Read("A") == "a"; };
  t.GoTo(2);
  ASSERT_TRUE(t.Find(isA));  // searches from the cursor on
  EXPECT_EQ(t.RecordNumber(), 3);
  t.GoTo(4);
  EXPECT_FALSE(t.Find(isA));
  EXPECT_EQ(t.RecordNumber(), 4);

  t.GoTo(2);
  std::vector<std::int32_t> seen;
  ASSERT_TRUE(t.MarkDeletedWhere([&](RecordTable& r) {
    seen.push_back(r.RecordNumber());
    return r.Read("A") == "a";
  }));
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(t.RecordNumber(), 2);
  EXPECT_EQ(Ids(t), (std::vector<std::int32_t>{-1, 2, -3, 4}));
}

TEST(RecordTableTypes, ReadsEveryFieldType) {
  TempDir dir;
  std::string path = dir / "all.edb";
  std::vector<RawField> fields = {{"byte", 1, 4, 0},   {"short", 2, 5, 0},   {"int", 3, 7, 0},
                                  {"long", 4, 11, 0},  {"float", 5, 19, 0},  {"double", 6, 23, 0},
                                  {"bool", 7, 31, 0},  {"date", 8, 32, 0},   {"routine", 9, 40, 0},
                                  {"text", 10, 44, 6}, {"bytes", 11, 50, 0}, {"long text", 12, 54, 0}};
  std::string b = RawHeader(fields, 1, 2, 58);
  std::string rec(58, '\0');
  Put32(rec, 0, 1);
  rec[4] = static_cast<char>(200);
  rec[5] = static_cast<char>(0x18);  // -1000 as int16
  rec[6] = static_cast<char>(0xFC);
  Put32(rec, 7, -123456);
  Put32(rec, 11, 0);  // 2^40 as int64
  Put32(rec, 15, 256);
  float fv = 1.5f;
  std::memcpy(rec.data() + 19, &fv, 4);
  double dv = -2.25;
  std::memcpy(rec.data() + 23, &dv, 8);
  rec[31] = 7;
  double date = 41233.5;  // 2012-11-20 12:00
  std::memcpy(rec.data() + 32, &date, 8);
  Put32(rec, 40, 77);
  std::memcpy(rec.data() + 44, "hi", 3);
  Put32(rec, 50, 1);
  Put32(rec, 54, 2);
  WriteFileBytes(path, b + rec);
  WriteFileBytes(dir / "all.EDT", RawBlock0(3) + RawBlock(0, std::string("\0\1", 2)) + RawBlock(0, "long"));
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  EXPECT_EQ(t.ReadValue(0), FieldValue{std::int64_t{200}});
  EXPECT_EQ(t.ReadValue(1), FieldValue{std::int64_t{-1000}});
  EXPECT_EQ(t.ReadValue(2), FieldValue{std::int64_t{-123456}});
  EXPECT_EQ(t.ReadValue(3), FieldValue{std::int64_t{1} << 40});
  EXPECT_EQ(t.ReadValue(4), FieldValue{1.5});
  EXPECT_EQ(t.ReadValue(5), FieldValue{-2.25});
  EXPECT_EQ(t.ReadValue(6), FieldValue{true});
  EXPECT_EQ(t.ReadValue(7), FieldValue{41233.5});
  EXPECT_EQ(t.Read("date"), "2012-11-20 12:00:00");
  EXPECT_EQ(t.ReadValue(8), FieldValue{std::int64_t{77}});
  EXPECT_EQ(t.Read("text"), "hi");
  EXPECT_EQ(t.Read("bytes"), std::string("\0\1", 2));
  EXPECT_EQ(t.Read("LONG TEXT"), "long");
  EXPECT_EQ(t.Read("bool"), "真"_gbk);
  EXPECT_EQ(t.Read("short"), "-1000");

  // Dates outside 0100-01-01 .. 9999-12-31 are clamped.
  t.Close();
  double far = 1e9;
  std::memcpy(rec.data() + 32, &far, 8);
  WriteFileBytes(path, b + rec);
  ASSERT_TRUE(t.Open(path));
  EXPECT_EQ(t.ReadValue(7), FieldValue{2958465.0});
}

TEST(RecordTableBlocks, FreedBlocksAreReused) {
  TempDir dir;
  std::string path = dir / "l.edb";
  ASSERT_TRUE(CreateTable(path, {{"N", 12, 0}, {"W", 10, 4}}));
  std::string big(1400, 'q');  // three blocks
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  ASSERT_TRUE(t.Append({big, "w"}));
  ASSERT_TRUE(t.Append({"short", "v"}));
  t.Close();
  std::int32_t blocks = Get32(ReadFileBytes(dir / "l.edt"), 16);
  EXPECT_EQ(blocks, 5);

  ASSERT_TRUE(t.Open(path));
  // Rewriting a value many times, and deleting and appending, keeps the
  // file at its size: the freed blocks come back.
  for (int i = 0; i < 20; ++i) {
    t.GoTo(1);
    ASSERT_TRUE(t.Modify({big + std::to_string(i)}));
    t.GoTo(2);
    ASSERT_TRUE(t.MarkDeleted());
    ASSERT_TRUE(t.Purge());
    ASSERT_TRUE(t.Append({"short", "v"}));
  }
  t.GoTo(1);
  EXPECT_EQ(t.Read("N"), big + "19");
  EXPECT_EQ(t.Read("W"), "w");  // Modify left the omitted field alone
  t.Skip();
  EXPECT_EQ(t.Read("N"), "short");
  t.Close();
  EXPECT_LE(Get32(ReadFileBytes(dir / "l.edt"), 16), 9);
}

// A damaged companion file whose chains share blocks: record 1's N is block
// 1 ("a"), record 2's N runs 2 -> 1 ("ba"). Purging either record leaves
// the other's value whole, and the next appends never take a shared block.
TEST(RecordTableBlocks, PurgeNeverFreesABlockAKeptRecordStillReaches) {
  struct Case {
    std::int32_t removed;
    std::string keptValue;
    std::int32_t freeAfterPurge;  // block 2 is freed only when record 2 goes
  } cases[] = {{1, "ba", 0}, {2, "a", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.removed);
    LongFixture f;
    f.Write({{1, 0}, {2, 0}}, RawBlock0(3) + RawBlock(0, "a") + RawBlock(1, "b"));
    RecordTable t;
    ASSERT_TRUE(t.Open(f.path));
    t.GoTo(c.removed);
    ASSERT_TRUE(t.MarkDeleted());
    ASSERT_TRUE(t.Purge());
    ASSERT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.ReadText("N"), c.keptValue);
    EXPECT_EQ(t.CheckBlocks()->free, c.freeAfterPurge);
    ASSERT_TRUE(t.Append({"new1", ""}));
    ASSERT_TRUE(t.Append({"new2", ""}));
    t.GoTo(1);
    EXPECT_EQ(t.ReadText("N"), c.keptValue);
    t.Skip();
    EXPECT_EQ(t.ReadText("N"), "new1");
    t.Skip();
    EXPECT_EQ(t.ReadText("N"), "new2");
    EXPECT_EQ(t.CheckBlocks()->problems, std::vector<std::string>{});
  }
}

// The same damaged file: rewriting either record's value frees its old
// chain except the block the other record still reaches, within one hold
// or one rewrite at a time.
TEST(RecordTableBlocks, RewritingNeverFreesABlockAnotherRecordStillReaches) {
  struct Case {
    std::int32_t rewritten;
    std::int32_t other;
    std::string otherValue;
    std::int32_t freeAfter;  // block 2 is freed only when record 2's chain goes
    bool held;
  } cases[] = {{1, 2, "ba", 0, false}, {2, 1, "a", 1, false}, {1, 2, "ba", 0, true}, {2, 1, "a", 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rewritten) + (c.held ? " held" : ""));
    LongFixture f;
    f.Write({{1, 0}, {2, 0}}, RawBlock0(3) + RawBlock(0, "a") + RawBlock(1, "b"));
    RecordTable t;
    ASSERT_TRUE(t.Open(f.path));
    if (c.held) {
      ASSERT_TRUE(t.Hold(true));
    }
    t.GoTo(c.rewritten);
    ASSERT_TRUE(t.Modify({"new"}));
    t.GoTo(c.other);
    EXPECT_EQ(t.ReadText("N"), c.otherValue);
    if (c.held) t.Release();
    EXPECT_EQ(t.CheckBlocks()->free, c.freeAfter);
    ASSERT_TRUE(t.Append({"next1", ""}));
    ASSERT_TRUE(t.Append({"next2", ""}));
    t.GoTo(c.other);
    EXPECT_EQ(t.ReadText("N"), c.otherValue);
    t.GoTo(c.rewritten);
    EXPECT_EQ(t.ReadText("N"), "new");
    EXPECT_EQ(t.CheckBlocks()->problems, std::vector<std::string>{});
  }
}

// A table found sound is not walked again while it keeps its stamp; once
// another writer has changed it (here: appended a record whose chain shares
// record 1's block), a purge guards the shared block again.
TEST(RecordTableBlocks, AnotherWritersChangeIsCheckedAgain) {
  LongFixture f;
  f.Write({{1, 0}, {2, 0}}, RawBlock0(3) + RawBlock(0, "a") + RawBlock(0, "b"));
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(f.path));
    EXPECT_EQ(t.CheckBlocks()->problems, std::vector<std::string>{});  // found sound
    ASSERT_TRUE(t.Append({"c", ""}));
  }
  // The other writer: a fourth record pointing at block 1.
  std::string table = ReadFileBytes(f.path);
  Put32(table, 16, 4);
  Put32(table, 20, 5);
  std::string rec(12, '\0');
  Put32(rec, 0, 4);
  Put32(rec, 4, 1);
  table += rec;
  WriteFileBytes(f.path, table);

  RecordTable t;
  ASSERT_TRUE(t.Open(f.path));
  ASSERT_TRUE(t.Hold(true));
  t.GoTo(1);
  ASSERT_TRUE(t.MarkDeleted());
  ASSERT_TRUE(t.Purge());
  t.Release();
  EXPECT_EQ(t.CheckBlocks()->free, 0);
  ASSERT_TRUE(t.Append({"d", ""}));
  EXPECT_EQ(ReadAll(t, "N"), (std::vector<std::string>{"b", "c", "a", "d"}));
}

// Buffered appends inside a write hold: the file's record count (what
// another process would read once it gets the lock) never covers a record
// not yet written, and the records reach the file whole at each point that
// writes them: an explicit Flush, a read of the table, the bound, the
// Release that ends the hold.
TEST(RecordTableBuffered, AppendsReachTheFileOnlyAtTheirFlushPoints) {
  TempDir dir;
  std::string path = dir / "l.edb";
  ASSERT_TRUE(CreateTable(path, {{"N", 12, 0}, {"W", 10, 4}}));
  auto fileCount = [&] { return Get32(ReadFileBytes(path), 16); };
  auto blockCount = [&] { return Get32(ReadFileBytes(dir / "l.edt"), 16); };
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  ASSERT_TRUE(t.Hold(true));
  t.SetBufferedAppends(true);
  const std::size_t emptySize = ReadFileBytes(path).size();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(t.Append({"n" + std::to_string(i), "w"}));
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(t.RecordNumber(), 3);
  EXPECT_EQ(fileCount(), 0);
  EXPECT_EQ(ReadFileBytes(path).size(), emptySize);
  EXPECT_EQ(blockCount(), 1);

  // A read writes them first.
  t.GoTo(2);
  EXPECT_EQ(t.ReadText("N"), "n1");
  EXPECT_EQ(fileCount(), 3);
  EXPECT_EQ(blockCount(), 4);

  ASSERT_TRUE(t.Append({"n3", "w"}));
  EXPECT_EQ(fileCount(), 3);
  EXPECT_TRUE(t.Flush());
  EXPECT_EQ(fileCount(), 4);

  // Past the bound, the appends so far are written before the next one.
  const std::string big(600 * 1000, 'b');
  const int bigOnes = static_cast<int>(kAppendBufferBytes / big.size()) + 2;
  for (int i = 0; i < bigOnes; ++i) ASSERT_TRUE(t.Append({big, "b"}));
  EXPECT_GT(fileCount(), 4);
  EXPECT_LT(fileCount(), 4 + bigOnes);

  ASSERT_TRUE(t.Append({"last", "w"}));
  EXPECT_TRUE(t.Release());
  EXPECT_EQ(fileCount(), 5 + bigOnes);
  t.Close();

  ASSERT_TRUE(t.Open(path));
  std::vector<std::string> expected = {"n0", "n1", "n2", "n3"};
  expected.insert(expected.end(), bigOnes, big);
  expected.push_back("last");
  EXPECT_EQ(ReadAll(t, "N"), expected);
  EXPECT_EQ(Ids(t).back(), 5 + bigOnes);
  EXPECT_EQ(t.CheckBlocks()->problems, std::vector<std::string>{});

  // Without a hold, or once buffering is turned off (which writes what is
  // pending), each append is written at once.
  ASSERT_TRUE(t.Append({"single", "w"}));
  EXPECT_EQ(fileCount(), 6 + bigOnes);
  ASSERT_TRUE(t.Hold(true));
  ASSERT_TRUE(t.Append({"held", "w"}));
  EXPECT_EQ(fileCount(), 6 + bigOnes);
  t.SetBufferedAppends(false);
  EXPECT_EQ(fileCount(), 7 + bigOnes);
  ASSERT_TRUE(t.Append({"unbuffered", "w"}));
  EXPECT_EQ(fileCount(), 8 + bigOnes);
  EXPECT_TRUE(t.Release());
}

TEST(RecordTableOpen, OneOpenPerFileInAProcess) {
  TempDir dir;
  WriteFileBytes(dir / "t.edb", FixedTable({}, 1));
  WriteFileBytes(dir / "plain.EDB", FixedTable({}, 1));
  RecordTable a, b;
  ASSERT_TRUE(a.Open(dir / "t.edb"));
  EXPECT_FALSE(b.Open(dir / "t.edb"));
  EXPECT_FALSE(b.Open(dir.path() + "/./t.edb"));
  a.Close();
  EXPECT_TRUE(b.Open(dir / "t.edb"));
  RecordTable c;
  EXPECT_TRUE(c.Open(dir / "plain"));  // ".EDB" is added to a name without a dot
}

TEST(RecordTableCrash, InterruptedAppendNeverRaisesTheCount) {
  TempDir dir;
  std::string path = dir / "t.edb";
  WriteFileBytes(path, FixedTable({{1, "one"}}, 2));
  // Let the file grow by 10 bytes only: the record write of the append fails
  // half way. The count must still name whole records.
  testing::FaultIo io;
  io.fileSizeLimit = kData2 + 16 + 10;
  bool appended;
  {
    RecordTable t;
    t.SetFileIo(&io);
    EXPECT_TRUE(t.Open(path));
    appended = t.Append({"two"}).ok();
  }
  EXPECT_TRUE(io.failed);
  EXPECT_FALSE(appended);
  EXPECT_EQ(Get32(ReadFileBytes(path), 16), 1);
  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(ReadAll(t, "A"), (std::vector<std::string>{"one"}));
  ASSERT_TRUE(t.Append({"two"}));
  EXPECT_EQ(Ids(t), (std::vector<std::int32_t>{1, 2}));
}

// Runs `child` in a forked process; returns its exit status.
int RunChild(const std::function<int()>& child) {
  pid_t pid = fork();
  if (pid == 0) _exit(child());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RecordTableLocks, WaitsBoundedForAnotherProcess) {
  TempDir dir;
  std::string path = dir / "t.edb";
  WriteFileBytes(path, FixedTable({{1, "one"}}, 2));
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  pid_t pid = fork();
  if (pid == 0) {
    RecordTable held;
    char c = held.Open(path) && held.Hold(true) ? 'y' : 'n';
    (void)!write(toParent[1], &c, 1);
    (void)!read(toChild[0], &c, 1);  // keep the lock until told
    held.Release();
    (void)!write(toParent[1], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  RecordTable t;
  t.SetLockWait(std::chrono::milliseconds(50));
  EXPECT_FALSE(t.Open(path));  // Open adjusts under the lock
  (void)!write(toChild[1], &c, 1);
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  t.SetLockWait(std::chrono::seconds(10));
  ASSERT_TRUE(t.Open(path));
  t.Close();
  waitpid(pid, nullptr, 0);

  // A reader elsewhere (a shared lock on the record count) keeps a writer
  // out until it lets go.
  int fd = open(path.c_str(), O_RDWR);
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 16;
  fl.l_len = 8;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &fl), 0);
  auto appendInChild = [&] {
    RecordTable other;
    other.SetLockWait(std::chrono::milliseconds(50));
    if (!other.Open(path)) return 3;
    return other.Append({"two"}) ? 0 : 4;
  };
  EXPECT_EQ(RunChild(appendInChild), 3);
  close(fd);  // releases the lock
  EXPECT_EQ(RunChild(appendInChild), 0);
  ASSERT_TRUE(t.Open(path));
  EXPECT_EQ(ReadAll(t, "A"), (std::vector<std::string>{"one", "two"}));
}

// A table kept open across accesses claims its file only while it holds
// the lock: between two of its accesses another table of the process opens
// and writes the file, and the next access sees that write; while it holds
// the lock, the other one is refused at once instead of waiting on itself.
// A file replaced under its name, or rebuilt with other fields, fails the
// kept table's next access until it is opened again.
TEST(RecordTableLocks, AKeptOpenTableClaimsItsFileOnlyWhileItHoldsTheLock) {
  TempDir dir;
  const std::string path = dir / "k.edb";
  ASSERT_TRUE(CreateTable(path, {{"A", 10, 8}, {"B", 12, 0}}));
  RecordTable kept;
  kept.SetKeptOpen(true);
  ASSERT_TRUE(kept.Open(path));
  ASSERT_TRUE(kept.Append({"one", "long one"}));
  {
    RecordTable other;
    ASSERT_TRUE(other.Open(path));
    ASSERT_TRUE(other.Append({"two", "long two"}));
    ASSERT_TRUE(other.GoTo(1) && other.Modify({"uno"}));
    EXPECT_EQ(kept.Hold(false).code(), Status::Code::kBusy);  // `other` claims it for its life
  }
  ASSERT_TRUE(kept.Hold(true));
  EXPECT_EQ(ReadAll(kept, "A"), (std::vector<std::string>{"uno", "two"}));
  EXPECT_EQ(ReadAll(kept, "B"), (std::vector<std::string>{"long one", "long two"}));
  {
    RecordTable other;
    EXPECT_EQ(other.Open(path).code(), Status::Code::kBusy);
  }
  ASSERT_TRUE(kept.Release());
  const std::optional<TableState> before = kept.State();
  ASSERT_TRUE(before);
  EXPECT_EQ(before->count, 2);

  // The file replaced by a copy with one more record: the kept table's
  // descriptor still reaches the old one, which no name leads to any more.
  const std::string copy = dir / "copy.edb";
  std::filesystem::copy_file(path, copy);
  std::filesystem::copy_file(CompanionFilePath(path), CompanionFilePath(copy));
  {
    RecordTable c;
    ASSERT_TRUE(c.Open(copy) && c.Append({"three", "long three"}));
  }
  std::filesystem::rename(CompanionFilePath(copy), CompanionFilePath(path));
  std::filesystem::rename(copy, path);
  EXPECT_EQ(kept.Hold(false).code(), Status::Code::kNotFound);
  kept.Close();
  ASSERT_TRUE(kept.Open(path));
  EXPECT_EQ(ReadAll(kept, "A"), (std::vector<std::string>{"uno", "two", "three"}));

  // Rebuilt in place with a field more: the fields the table knows are gone.
  const std::string bytes = RawHeader({{"A", 10, 4, 8}, {"B", 12, 12, 0}, {"C", 3, 16, 0}}, 0, 1, 20);
  WriteFileBytes(path, bytes);
  EXPECT_EQ(kept.Hold(false).code(), Status::Code::kNotFound);
  EXPECT_EQ(kept.RecordCount(), 0);
}

TEST(RecordTableLocks, TwoProcessesAppendingNeverInterleave) {
  TempDir dir;
  std::string path = dir / "l.edb";
  ASSERT_TRUE(CreateTable(path, {{"N", 12, 0}, {"P", 10, 4}}));
  constexpr int kEach = 300;
  auto writer = [&](char tag) {
    return [&, tag] {
      RecordTable t;
      t.SetLockWait(std::chrono::seconds(20));
      if (!t.Open(path)) return 1;
      for (int i = 0; i < kEach; ++i) {
        std::string v = std::string(1, tag) + std::to_string(i) + std::string(600, tag);
        if (!t.Append({v, std::string(1, tag)})) return 2;
      }
      return 0;
    };
  };
  pid_t a = fork();
  if (a == 0) _exit(writer('a')());
  pid_t b = fork();
  if (b == 0) _exit(writer('b')());
  int sa = 0, sb = 0;
  waitpid(a, &sa, 0);
  waitpid(b, &sb, 0);
  ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
  ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);

  RecordTable t;
  ASSERT_TRUE(t.Open(path));
  ASSERT_EQ(t.RecordCount(), 2 * kEach);
  std::set<std::int32_t> ids;
  std::map<char, int> next;
  t.GoTo(1);
  for (int i = 0; i < 2 * kEach; ++i, t.Skip()) {
    ids.insert(t.RecordId());
    std::string p = t.Read("P");
    ASSERT_EQ(p.size(), 1u);
    std::string expected = p + std::to_string(next[p[0]]++) + std::string(600, p[0]);
    ASSERT_EQ(t.Read("N"), expected) << "record " << i + 1;
  }
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(2 * kEach));
  EXPECT_EQ(*ids.begin(), 1);
  EXPECT_EQ(*ids.rbegin(), 2 * kEach);
}

}  // namespace
}  // namespace autodeliver
