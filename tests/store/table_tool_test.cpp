// Runs the table tool as a separate process on temporary directories.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "store/csv_export.h"
#include "store/data_paths.h"
#include "store/record_table.h"
#include "store/store_ops.h"
#include "store/table_schema.h"
#include "table_files.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

struct ToolRun {
  int status;
  std::string out;
};

// Runs the tool with `args` (already quoted); stderr goes to stdout.
ToolRun Tool(const std::string& args) {
  std::string command = std::string(TABLE_TOOL) + " " + args + " 2>&1";
  ToolRun r{-1, ""};
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

TEST(TableTool, InitCreatesTheInstalledTables) {
  testing::TempDir dir;
  ASSERT_EQ(Tool("init " + Quoted(dir.path())).status, 0);
  struct Expected {
    const char* file;
    std::vector<const char*> names;
  } tables[] = {
      {"配置.edb", {"配置名", "配置数据"}},
      {"监控宝贝.edb", {"宝贝名称", "宝贝备注", "限拍件数", "是否需要卡密信息"}},
      {"库存卡密.edb", {"宝贝名称", "宝贝卡号", "宝贝卡密"}},
      {"已发卡密.edb",
       {"宝贝名称", "订单编号", "买家旺旺", "购买数量", "已发卡号", "已发卡密", "已发备注", "发货时间"}},
  };
  for (const Expected& e : tables) {
    RecordTable t;
    ASSERT_TRUE(t.Open(dir / "data" + "/" + e.file)) << e.file;
    ASSERT_EQ(t.Fields().size(), e.names.size()) << e.file;
    for (std::size_t i = 0; i < e.names.size(); ++i)
      EXPECT_EQ(t.Fields()[i].name, Utf8ToGbkLossy(e.names[i]));
    EXPECT_EQ(t.RecordCount(), std::string(e.file) == "配置.edb" ? 1 : 0) << e.file;
  }
  RecordTable settings;
  ASSERT_TRUE(settings.Open(dir / "data/配置.edb"));
  EXPECT_EQ(settings.Read("配置名"_gbk), "阿里旺旺核心文件路径"_gbk);
  EXPECT_EQ(settings.Read("配置数据"_gbk), "");
  settings.Close();
  EXPECT_GT(std::filesystem::file_size(dir / "card.mdb"), 0u);

  // A second init never overwrites a shop's files.
  ToolRun again = Tool("init " + Quoted(dir.path()));
  EXPECT_NE(again.status, 0);
  EXPECT_NE(again.out.find("exists"), std::string::npos);
}

TEST(TableTool, DumpAndCheck) {
  testing::TempDir dir;
  ASSERT_TRUE(CreateDataTables(dir.path()));
  SetProgramDir(dir.path());
  ASSERT_TRUE(AppendStockCard({"点卡\"A\""_gbk, "N1", "P1", 0}));
  ASSERT_TRUE(AppendStockCard({"点卡"_gbk, "N2", "P2", 0}));
  ASSERT_TRUE(MarkStockCardAt(2));
  SetProgramDir("");

  std::string stock = dir / "data/库存卡密.edb";
  ToolRun dump = Tool("dump --json " + Quoted(stock));
  ASSERT_EQ(dump.status, 0) << dump.out;
  for (const char* part :
       {"\"version\": 65536", "\"recordCount\": 2", "\"nextRecordId\": 3", "\"recordSize\": 16",
        "{\"name\": \"宝贝卡号\", \"type\": 12, \"offset\": 8, \"width\": 0}",
        "{\"number\": 1, \"id\": 1, \"deleted\": false, \"values\": {\"宝贝名称\": "
        "\"点卡\\\"A\\\"\", \"宝贝卡号\": \"N1\", \"宝贝卡密\": \"P1\"}}",
        "{\"number\": 2, \"id\": -2, \"deleted\": true"})
    EXPECT_NE(dump.out.find(part), std::string::npos) << part << "\n" << dump.out;

  ToolRun missing = Tool("dump --json " + Quoted(dir / "data/none.edb"));
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(std::count(missing.out.begin(), missing.out.end(), '\n'), 1);

  // Two trailing bytes and a chain that points past the companion file.
  std::string bytes = testing::ReadFile(stock);
  testing::Put32(bytes, bytes.size() - 16 + 8, 77);
  testing::WriteFile(stock, bytes + "xx");
  ToolRun check = Tool("check " + Quoted(stock));
  EXPECT_EQ(check.status, 1) << check.out;
  EXPECT_NE(check.out.find("2 records"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("file cut from"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("record 2, field 宝贝卡号"), std::string::npos) << check.out;
  EXPECT_NE(Tool("check " + Quoted(dir / "data/none.edb")).status, 0);
}

// The CSV export writes what the window writes, for the whole table or one
// item, in either encoding; a wrong kind, a missing folder or an unwritable
// file fail with the documented status.
TEST(TableTool, ExportWritesTheWindowsCsv) {
  testing::TempDir dir;
  ASSERT_EQ(Tool("init " + Quoted(dir.path())).status, 0);
  SetProgramDir(dir.path());
  const std::vector<SentCard> sent = {
      {"点卡,10元"_gbk, "1001", "买家\"甲\""_gbk, 1, "A1", "p\r\n1", "", "2024年5月1日"_gbk},
      {"月卡"_gbk, "1002", "乙"_gbk, 1, "M1", "q1", "", "2024年5月2日"_gbk}};
  for (const SentCard& c : sent) ASSERT_TRUE(AppendSentCard(c));
  ASSERT_TRUE(AppendStockCard({"月卡"_gbk, "M2", "q2", 0}));
  ASSERT_TRUE(AppendStockCard({"点卡,10元"_gbk, "A2", "p2", 0}));
  SetProgramDir("");

  const std::string out = dir / "out.csv";
  ToolRun run = Tool("export " + Quoted(dir.path()) + " sent " + Quoted(out));
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(testing::ReadFile(out), SentCardsCsv(sent, nullptr, CsvEncoding::kUtf8WithBom));
  EXPECT_NE(run.out.find("wrote 2 sent card(s)"), std::string::npos) << run.out;

  run = Tool("export " + Quoted(dir.path()) + " sent " + Quoted(out) + " --item 月卡 --gbk");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(testing::ReadFile(out), SentCardsCsv({sent[1]}, nullptr, CsvEncoding::kGbk));

  run = Tool("export " + Quoted(dir.path()) + " stock " + Quoted(out) + " --item " + Quoted("点卡,10元"));
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(testing::ReadFile(out),
            StockCardsCsv({{"点卡,10元"_gbk, "A2", "p2", 2}}, CsvEncoding::kUtf8WithBom));
  run = Tool("export " + Quoted(dir.path()) + " stock " + Quoted(out));
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("wrote 2 stock card(s)"), std::string::npos) << run.out;

  EXPECT_EQ(Tool("export " + Quoted(dir.path()) + " items " + Quoted(out)).status, 2);
  EXPECT_EQ(Tool("export " + Quoted(dir / "none") + " sent " + Quoted(out)).status, 1);
  EXPECT_EQ(Tool("export " + Quoted(dir.path()) + " sent " + Quoted(dir / "no/such.csv")).status, 1);
}

// A free list that names a block still holding a card's number: check
// reports it, and an import neither overwrites the number nor is lost.
TEST(TableTool, CheckFindsAFreeListThatNamesAUsedBlock) {
  testing::TempDir dir;
  ASSERT_TRUE(CreateDataTables(dir.path()));
  SetProgramDir(dir.path());
  ASSERT_TRUE(AppendStockCard({"点卡"_gbk, "N1", "P1", 0}));  // blocks 1-3
  ASSERT_TRUE(AppendStockCard({"点卡"_gbk, "N2", "P2", 0}));  // blocks 4-6
  std::string stock = dir / "data/库存卡密.edb";
  std::string companion = dir / "data/库存卡密.edt";
  std::string blocks = testing::ReadFile(companion);
  ASSERT_EQ(testing::Get32(blocks, 16), 7);
  testing::Put32(blocks, 20, 2);  // first free block: card 1's number
  testing::Put32(blocks, 24, 1);
  testing::WriteFile(companion, blocks);

  ToolRun check = Tool("check " + Quoted(stock));
  EXPECT_EQ(check.status, 1) << check.out;
  EXPECT_NE(check.out.find("block 2 is on the free list and holds a value"), std::string::npos) << check.out;

  ASSERT_TRUE(AppendStockCard({"点卡"_gbk, "N3", "P3", 0}));
  std::vector<StockCard> cards = LoadStockCardsOf("点卡"_gbk);
  SetProgramDir("");
  ASSERT_EQ(cards.size(), 3u);
  EXPECT_EQ(cards[0].cardNumber, "N1");
  EXPECT_EQ(cards[0].cardPassword, "P1");
  EXPECT_EQ(cards[1].cardNumber, "N2");
  EXPECT_EQ(cards[2].cardNumber, "N3");
  EXPECT_EQ(cards[2].cardPassword, "P3");
  check = Tool("check " + Quoted(stock));
  EXPECT_EQ(check.status, 0) << check.out;
}

}  // namespace
}  // namespace autodeliver
