// Bringing old data in: tables crafted byte by byte in the older layout (every
// value a long text in the companion file), migrated or converted, then read
// back with a reader written here from the file format, not the engine's.
#include "store/old_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "store/item_table.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "store/table_schema.h"
#include "table_files.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

namespace fs = std::filesystem;
using testing::Get32;
using testing::Put32;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

struct Row {
  std::int32_t id;                  // negative: marked deleted
  std::vector<std::string> values;  // UTF-8, converted to GBK when written
};

struct Table {
  std::vector<std::string> fields;  // UTF-8 names
  std::vector<Row> rows;
  std::int32_t nextId;
};

// Writes `t` as a table whose every field is a long text: records of 4 + 4 n
// bytes, each value a chain of 500-byte pieces in the companion file.
void Craft(const std::string& edb, const std::string& edt, const Table& t) {
  std::vector<testing::RawField> raw;
  for (std::size_t i = 0; i < t.fields.size(); ++i)
    raw.push_back({Utf8ToGbkLossy(t.fields[i]), 12, 4 + 4 * static_cast<std::int32_t>(i), 0});
  const std::int32_t size = 4 + 4 * static_cast<std::int32_t>(t.fields.size());
  std::string table = testing::RawHeader(raw, static_cast<std::int32_t>(t.rows.size()), t.nextId, size);
  std::vector<std::string> blocks;
  for (const Row& r : t.rows) {
    std::string rec(static_cast<std::size_t>(size), '\0');
    Put32(rec, 0, r.id);
    for (std::size_t i = 0; i < r.values.size(); ++i) {
      const std::string v = Utf8ToGbkLossy(r.values[i]);
      if (v.empty()) continue;
      Put32(rec, 4 + 4 * i, static_cast<std::int32_t>(blocks.size()) + 1);
      for (std::size_t at = 0; at < v.size(); at += 500) {
        const bool last = at + 500 >= v.size();
        blocks.push_back(
            testing::RawBlock(last ? 0 : static_cast<std::int32_t>(blocks.size()) + 2, v.substr(at, 500)));
      }
    }
    table += rec;
  }
  std::string companion = testing::RawBlock0(static_cast<std::int32_t>(blocks.size()) + 1);
  for (const std::string& b : blocks) companion += b;
  WriteFileBytes(edb, table);
  WriteFileBytes(edt, companion);
}

struct Read {
  std::map<std::string, int> types;                                               // by UTF-8 field name
  std::vector<std::pair<std::int32_t, std::map<std::string, std::string>>> rows;  // id, values (UTF-8)
  std::int32_t nextId = 0;
};

// Reads a table of fixed-width texts and long texts straight from the bytes.
Read ReadBack(const std::string& edb) {
  Read out;
  const std::string b = ReadFileBytes(edb);
  const std::string companion =
      ReadFileBytes(edb.substr(0, edb.size() - 1) + (edb.back() == 'b' ? "t" : "T"));
  if (b.size() < 116 || b.compare(0, 4, "WEDB") != 0) return out;
  const std::int32_t count = Get32(b, 16), size = Get32(b, 24), n = Get32(b, 112);
  out.nextId = Get32(b, 20);
  const std::size_t data = 116 + 72 * static_cast<std::size_t>(n);
  for (std::int32_t k = 0; k < count; ++k) {
    const std::size_t rec = data + static_cast<std::size_t>(k) * size;
    std::map<std::string, std::string> values;
    for (std::int32_t f = 0; f < n; ++f) {
      const std::size_t d = 116 + 72 * static_cast<std::size_t>(f);
      const std::string name = GbkToUtf8Lossy(b.substr(d, b.find('\0', d) - d));
      const std::int32_t type = Get32(b, d + 20), off = Get32(b, d + 24), width = Get32(b, d + 28);
      out.types[name] = type;
      std::string v;
      if (type == 10) {
        v = b.substr(rec + off, static_cast<std::size_t>(width));
        v = v.substr(0, v.find('\0'));
      } else if (type == 12) {
        for (std::int32_t blk = Get32(b, rec + off); blk > 0;) {
          const std::size_t at = static_cast<std::size_t>(blk) * 512;
          v += companion.substr(at + 12, static_cast<std::size_t>(Get32(companion, at + 8)));
          blk = Get32(companion, at + 4);
        }
        v = v.substr(0, v.find('\0'));
      }
      values[name] = GbkToUtf8Lossy(v);
    }
    out.rows.emplace_back(Get32(b, rec), std::move(values));
  }
  return out;
}

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    files[e.path().string()] = e.is_regular_file() ? ReadFileBytes(e.path().string()) : "<dir>";
  return files;
}

const std::string kLongCard(1234, 'C');  // three blocks
// `chars` Chinese characters: 2 GBK bytes each.
std::string Chinese(std::size_t chars) {
  std::string s;
  for (std::size_t i = 0; i < chars; ++i) s += "卡";
  return s;
}

// A Windows installation's folder: data/ with the four tables under names in
// GBK bytes, UTF-8 and one that no longer reads, and card.mdb.
struct OldFolder {
  testing::TempDir root;
  std::map<std::string, Table> tables;  // by UTF-8 file name
  std::string cardDb = std::string("\0\1Standard Jet DB\0", 19) + std::string(3000, 'x');

  OldFolder() {
    tables[kSettingsTableFile] = {
        {"配置名", "配置数据"}, {{1, {"阿里旺旺核心文件路径", "C:\\AliWangWang\\AliIM.exe"}}}, 2};
    tables[kItemsTableFile] = {{"宝贝名称", "宝贝备注", "限拍件数", "是否需要卡密信息"},
                               {{1, {"点卡A", "", "0", "真"}}, {3, {Chinese(50), "备注", "５", "假"}}},
                               5};
    tables[kStockTableFile] = {{"宝贝名称", "宝贝卡号", "宝贝卡密"},
                               {{2, {"点卡A", "A001", "p1"}},
                                {-3, {"点卡A", "A002", "p2"}},
                                {4, {"点卡A", kLongCard, "0"}},
                                {7, {Chinese(50), "B001", "p'1"}}},
                               9};
    tables[kSentTableFile] = {
        {"宝贝名称", "订单编号", "买家旺旺", "购买数量", "已发卡号", "已发卡密", "已发备注", "发货时间"},
        {{1, {"点卡A", "1001", "买家一", "1", "A000", "p0", "", "2012年11月20日9时5分"}},
         {2,
          {Chinese(50), std::string(64, '9'), Chinese(32), "2", "B000", "q0", "",
           "2012年11月20日23时59分59秒"}}},
        3};
    fs::create_directory(root / "data");
    Write(kSettingsTableFile, Utf8ToGbkLossy("配置"));  // GBK bytes
    Write(kItemsTableFile, "监控宝贝");                 // UTF-8
    Write(kStockTableFile, Utf8ToGbkLossy("库存卡密"));
    Write(kSentTableFile, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");  // mangled on the way
    WriteFileBytes(root / "card.mdb", cardDb);
  }
  void Write(const std::string& file, const std::string& stem) {
    Craft(root / ("data/" + stem + ".edb"), root / ("data/" + stem + ".edt"), tables[file]);
  }
  std::string Path(const std::string& stem) { return root / ("data/" + stem + ".edb"); }
};

void ExpectSameRecords(const Table& crafted, const Read& got, const std::string& file) {
  SCOPED_TRACE(file);
  ASSERT_EQ(got.rows.size(), crafted.rows.size());
  EXPECT_EQ(got.nextId, crafted.nextId);
  for (std::size_t k = 0; k < crafted.rows.size(); ++k) {
    EXPECT_EQ(got.rows[k].first, crafted.rows[k].id) << "record " << k + 1;
    for (std::size_t f = 0; f < crafted.fields.size(); ++f)
      EXPECT_EQ(got.rows[k].second.at(crafted.fields[f]), crafted.rows[k].values[f])
          << "record " << k + 1 << ", " << crafted.fields[f];
  }
}

TEST(MigrateShop, ConvertsEveryRecordIntoTheInstalledLayoutAndLeavesTheSourceAlone) {
  OldFolder old;
  testing::TempDir dir;
  const auto before = Snapshot(old.root.path());
  const OldDataReport r = MigrateShop(old.root.path(), dir.path(), {});
  ASSERT_EQ(r.status, OldDataReport::Status::kDone) << r.problem;
  EXPECT_EQ(Snapshot(old.root.path()), before);

  std::map<std::string, OldTable::Name> how;
  for (const OldTable& t : r.tables) {
    EXPECT_EQ(t.outcome, OldTable::Outcome::kConverted) << t.file;
    how[t.file] = t.name;
  }
  EXPECT_EQ(how[kSettingsTableFile], OldTable::Name::kGbk);
  EXPECT_EQ(how[kItemsTableFile], OldTable::Name::kUtf8);
  EXPECT_EQ(how[kSentTableFile], OldTable::Name::kByFields);

  for (const auto& [file, crafted] : old.tables) {
    const Read got = ReadBack(dir / ("data/" + file));
    ExpectSameRecords(crafted, got, file);
    // The first field (the setting's name, the item name) is fixed-width now.
    EXPECT_EQ(got.types.at(crafted.fields[0]), 10) << file;
  }
  EXPECT_EQ(ReadFileBytes(dir / "card.mdb"), old.cardDb);
  EXPECT_TRUE(r.backup.empty());

  // The program reads the converted tables.
  ShopContext shop(dir.path());
  EXPECT_TRUE(ItemExists(shop, Utf8ToGbkLossy(Chinese(50))));
}

TEST(MigrateShop, KeepsATableWhoseValueIsTooWideInItsOlderLayout) {
  OldFolder old;
  old.tables[kStockTableFile].rows[1].values[0] = Chinese(50) + "x";  // 101 bytes, a marked record
  old.Write(kStockTableFile, Utf8ToGbkLossy("库存卡密"));
  testing::TempDir dir;
  const OldDataReport r = MigrateShop(old.root.path(), dir.path(), {});
  ASSERT_EQ(r.status, OldDataReport::Status::kDone) << r.problem;
  for (const OldTable& t : r.tables) {
    if (t.file != kStockTableFile) continue;
    EXPECT_EQ(t.outcome, OldTable::Outcome::kKept);
    EXPECT_EQ(t.tooWideRecord, 2);
    EXPECT_EQ(t.tooWideField, "宝贝名称");
    EXPECT_EQ(t.tooWideValue, Chinese(50) + "x");
  }
  const std::string stem = Utf8ToGbkLossy("库存卡密");
  EXPECT_EQ(ReadFileBytes(dir / ("data/" + std::string(kStockTableFile))), ReadFileBytes(old.Path(stem)));
  ExpectSameRecords(old.tables[kStockTableFile], ReadBack(dir / ("data/" + std::string(kStockTableFile))),
                    kStockTableFile);
  EXPECT_EQ(ReadBack(dir / ("data/" + std::string(kItemsTableFile))).types.at("宝贝名称"), 10);
}

TEST(MigrateShop, RefusesWithoutWritingWhenATableIsDamagedIncompleteOrWhenDry) {
  struct Case {
    const char* what;
    std::function<void(OldFolder&)> harm;
    OldDataOptions options;
    OldDataReport::Status status;
  } cases[] = {
      {"a chain into a block that is not there",
       [](OldFolder& o) {
         std::string t = ReadFileBytes(o.Path("监控宝贝"));
         Put32(t, 116 + 72 * 4 + 24 + 4, 99);  // the second record's remark
         WriteFileBytes(o.Path("监控宝贝"), t);
       },
       {},
       OldDataReport::Status::kDamaged},
      {"a table missing",
       [](OldFolder& o) { fs::remove(o.Path("监控宝贝")); },
       {},
       OldDataReport::Status::kIncomplete},
      {"a dry run", [](OldFolder&) {}, {.dryRun = true}, OldDataReport::Status::kDryRun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OldFolder old;
    c.harm(old);
    testing::TempDir dir;
    ASSERT_TRUE(CreateDataTables(dir.path()));
    const auto target = Snapshot(dir.path());
    const auto source = Snapshot(old.root.path());
    const OldDataReport r = MigrateShop(old.root.path(), dir.path(), c.options);
    EXPECT_EQ(r.status, c.status) << r.problem;
    EXPECT_EQ(Snapshot(dir.path()), target);
    EXPECT_EQ(Snapshot(old.root.path()), source);
  }
}

TEST(MigrateShop, MergesIntoAFolderWithCardsWithoutDoublingAny) {
  OldFolder old;
  testing::TempDir dir;
  ASSERT_TRUE(CreateDataTables(dir.path()));
  // The folder has the old stock's A001 in its own stock, has sent the old
  // stock's B001 already, and shares the old sent row of order 1001.
  {
    RecordTable stock, sent, items;
    ASSERT_TRUE(stock.Open(dir / "data/库存卡密.edb"));
    ASSERT_TRUE(stock.Append({"点卡A"_gbk, "A001", "p1"}));
    ASSERT_TRUE(sent.Open(dir / "data/已发卡密.edb"));
    ASSERT_TRUE(sent.Append({Utf8ToGbkLossy(Chinese(50)), "5005", "x"_gbk, "1", "B001", "p'1", "", "t"}));
    ASSERT_TRUE(sent.Append({"点卡A"_gbk, "1001", "买家一"_gbk, "1", "A000", "p0", "", "t"}));
    ASSERT_TRUE(items.Open(dir / "data/监控宝贝.edb"));
    ASSERT_TRUE(items.Append({"点卡A"_gbk, "", "0", "真"_gbk}));
  }
  EXPECT_EQ(MigrateShop(old.root.path(), dir.path(), {}).status, OldDataReport::Status::kTargetHasData);

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    const OldDataReport r = MigrateShop(old.root.path(), dir.path(), {.merge = true});
    ASSERT_EQ(r.status, OldDataReport::Status::kDone) << r.problem;
    EXPECT_FALSE(r.backup.empty());
  }
  auto live = [&](const char* file, const char* f1, const char* f2) {
    std::multiset<std::pair<std::string, std::string>> keys;
    for (const auto& [id, v] : ReadBack(dir / ("data/" + std::string(file))).rows)
      if (id > 0) keys.insert({v.at(f1), v.at(f2)});
    return keys;
  };
  // Only the live old card not in the folder's stock and not sent from it.
  EXPECT_EQ(live(kStockTableFile, "宝贝卡号", "宝贝卡密"),
            (std::multiset<std::pair<std::string, std::string>>{{"A001", "p1"}, {kLongCard, "0"}}));
  EXPECT_EQ(live(kSentTableFile, "订单编号", "已发卡号"),
            (std::multiset<std::pair<std::string, std::string>>{
                {"5005", "B001"}, {"1001", "A000"}, {std::string(64, '9'), "B000"}}));
  EXPECT_EQ(live(kItemsTableFile, "宝贝名称", "宝贝名称").size(), 2u);
  EXPECT_EQ(ReadFileBytes(dir / "card.imported.mdb"), old.cardDb);
}

TEST(ConvertShop, ConvertsTheOlderLayoutInPlaceAndKeepsABackup) {
  testing::TempDir dir;
  ASSERT_TRUE(CreateDataTables(dir.path(), nullptr, TableLayout::kLongTexts));
  {
    RecordTable stock;
    ASSERT_TRUE(stock.Open(dir / "data/库存卡密.edb"));
    for (const char* card : {"C1", "C2", "C3"}) ASSERT_TRUE(stock.Append({"点卡A"_gbk, card, "0"}));
    ASSERT_TRUE(stock.GoTo(2));
    ASSERT_TRUE(stock.MarkDeleted());
  }
  const std::string stockPath = dir / "data/库存卡密.edb";
  const std::string oldBytes = ReadFileBytes(stockPath);
  const Read before = ReadBack(stockPath);

  const OldDataReport dry = ConvertShop(dir.path(), true);
  ASSERT_EQ(dry.status, OldDataReport::Status::kDryRun) << dry.problem;
  EXPECT_EQ(ReadFileBytes(stockPath), oldBytes);

  const OldDataReport r = ConvertShop(dir.path(), false);
  ASSERT_EQ(r.status, OldDataReport::Status::kDone) << r.problem;
  for (const OldTable& t : r.tables)
    EXPECT_EQ(t.outcome,
              t.file == kSettingsTableFile ? OldTable::Outcome::kUnchanged : OldTable::Outcome::kConverted)
        << t.file;
  const Read after = ReadBack(stockPath);
  EXPECT_EQ(after.types.at("宝贝名称"), 10);
  EXPECT_EQ(after.rows, before.rows);
  EXPECT_EQ(after.nextId, before.nextId);
  EXPECT_EQ(ReadFileBytes(r.backup + "/库存卡密.edb"), oldBytes);
  // A second run finds nothing left to convert.
  const OldDataReport again = ConvertShop(dir.path(), false);
  ASSERT_EQ(again.status, OldDataReport::Status::kDone);
  for (const OldTable& t : again.tables) EXPECT_EQ(t.outcome, OldTable::Outcome::kUnchanged) << t.file;
}

}  // namespace
}  // namespace autodeliver
