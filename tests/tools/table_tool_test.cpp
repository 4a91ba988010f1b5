// Runs the table tool as a separate process on temporary directories.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "../store/table_files.h"
#include "export/csv_export.h"
#include "import/checked_import.h"
#include "store/instance_lock.h"
#include "store/seller_actions.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"
#include "tables/record_table.h"
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
  // Every name a long text, so the dump shows the record layout below.
  ASSERT_TRUE(CreateDataTables(dir.path(), nullptr, TableLayout::kLongTexts));
  ShopContext shop(dir.path());
  ASSERT_TRUE(AppendStockCard(shop, {"点卡\"A\""_gbk, "N1", "P1", 0}));
  ASSERT_TRUE(AppendStockCard(shop, {"点卡"_gbk, "N2", "P2", 0}));
  ASSERT_TRUE(MarkStockCardAt(shop, 2));

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
  std::string bytes = testing::ReadFileBytes(stock);
  testing::Put32(bytes, bytes.size() - 16 + 8, 77);
  testing::WriteFileBytes(stock, bytes + "xx");
  ToolRun check = Tool("check " + Quoted(stock));
  EXPECT_EQ(check.status, 1) << check.out;
  EXPECT_NE(check.out.find("2 records"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("file cut from"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("record 2, field 宝贝卡号"), std::string::npos) << check.out;
  EXPECT_NE(Tool("check " + Quoted(dir / "data/none.edb")).status, 0);
}

// The records part of a dump: ids, deleted marks and values, but not the
// field layout, which a migration changes.
std::string DumpedRecords(const std::string& table) {
  const std::string out = Tool("dump --json " + Quoted(table)).out;
  const std::size_t at = out.find("\"records\"");
  return at == std::string::npos ? std::string() : out.substr(at);
}

// A Windows folder with GBK file names brought into a shop by name: every
// record dumps the same before and after, the old folder keeps its bytes, and
// a shop that holds cards is refused unless merging.
TEST(TableTool, MigrateIntoAShopKeepsEveryRecord) {
  testing::TempDir old, home;
  ASSERT_TRUE(CreateDataTables(old.path(), nullptr, TableLayout::kLongTexts));
  ShopContext shop(old.path());
  for (const char* card : {"N1", "N2", "N3"}) ASSERT_TRUE(AppendStockCard(shop, {"点卡"_gbk, card, "P", 0}));
  ASSERT_TRUE(MarkStockCardAt(shop, 2));
  ASSERT_EQ(
      std::rename((old / "data/库存卡密.edb").c_str(), (old / ("data/" + "库存卡密"_gbk + ".EDB")).c_str()),
      0);
  ASSERT_EQ(
      std::rename((old / "data/库存卡密.edt").c_str(), (old / ("data/" + "库存卡密"_gbk + ".EDT")).c_str()),
      0);
  const std::string oldStock = old / ("data/" + "库存卡密"_gbk + ".EDB");
  const std::string before = DumpedRecords(oldStock);
  const std::string oldBytes = testing::ReadFileBytes(oldStock);
  ASSERT_NE(before.find("\"deleted\": true"), std::string::npos);

  const std::string env = "XDG_DATA_HOME=" + Quoted(home.path()) + " ";
  const std::string command = "migrate " + Quoted(old.path()) + " --shop 二店";
  EXPECT_EQ(std::system((env + TABLE_TOOL + " " + command + " --dry-run >/dev/null").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(home / "autodeliver/shops/二店/data"));
  ToolRun run{-1, ""};
  {
    FILE* p = popen((env + TABLE_TOOL + " " + command + " 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
    run.status = WEXITSTATUS(pclose(p));
  }
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("name in GBK bytes"), std::string::npos) << run.out;
  const std::string shopStock = home / "autodeliver/shops/二店/data/库存卡密.edb";
  EXPECT_EQ(DumpedRecords(shopStock), before);
  EXPECT_EQ(testing::ReadFileBytes(oldStock), oldBytes);

  // Now the shop holds cards: refused, then merged without a card twice.
  ToolRun again = Tool("migrate " + Quoted(old.path()) + " " + Quoted(home / "autodeliver/shops/二店"));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("--merge"), std::string::npos) << again.out;
  ToolRun merged =
      Tool("migrate --merge " + Quoted(old.path()) + " " + Quoted(home / "autodeliver/shops/二店"));
  EXPECT_EQ(merged.status, 0) << merged.out;
  EXPECT_EQ(DumpedRecords(shopStock), before);
}

// The CSV export writes what the window writes, for the whole table or one
// item, in either encoding; a wrong kind, a missing folder or an unwritable
// file fail with the documented status.
TEST(TableTool, ExportWritesTheWindowsCsv) {
  testing::TempDir dir;
  ASSERT_EQ(Tool("init " + Quoted(dir.path())).status, 0);
  ShopContext shop(dir.path());
  const std::vector<SentCard> sent = {
      {"点卡,10元"_gbk, "1001", "买家\"甲\""_gbk, 1, "A1", "p\r\n1", "", "2024年5月1日"_gbk},
      {"月卡"_gbk, "1002", "乙"_gbk, 1, "=M1", "q1", "", "2024年5月2日"_gbk}};
  for (const SentCard& c : sent) ASSERT_TRUE(AppendSentCard(shop, c));
  ASSERT_TRUE(AppendStockCard(shop, {"月卡"_gbk, "M2", "q2", 0}));
  ASSERT_TRUE(AppendStockCard(shop, {"点卡,10元"_gbk, "A2", "p2", 0}));

  const std::string out = dir / "out.csv";
  ToolRun run = Tool("export " + Quoted(dir.path()) + " sent " + Quoted(out));
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(testing::ReadFileBytes(out), SentCardsCsv(sent, nullptr, CsvEncoding::kUtf8WithBom));
  EXPECT_NE(run.out.find("wrote 2 sent card(s)"), std::string::npos) << run.out;

  run = Tool("export " + Quoted(dir.path()) + " sent " + Quoted(out) + " --item 月卡 --gbk");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(testing::ReadFileBytes(out), SentCardsCsv({sent[1]}, nullptr, CsvEncoding::kGbk));
  // A card that a spreadsheet would take as a formula is written as text.
  EXPECT_NE(testing::ReadFileBytes(out).find(",'=M1,"), std::string::npos);

  run = Tool("export " + Quoted(dir.path()) + " stock " + Quoted(out) + " --item " + Quoted("点卡,10元"));
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(testing::ReadFileBytes(out),
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
  // The item name a long text too, so each card takes the blocks below.
  ASSERT_TRUE(CreateDataTables(dir.path(), nullptr, TableLayout::kLongTexts));
  ShopContext shop(dir.path());
  ASSERT_TRUE(AppendStockCard(shop, {"点卡"_gbk, "N1", "P1", 0}));  // blocks 1-3
  ASSERT_TRUE(AppendStockCard(shop, {"点卡"_gbk, "N2", "P2", 0}));  // blocks 4-6
  std::string stock = dir / "data/库存卡密.edb";
  std::string companion = dir / "data/库存卡密.edt";
  std::string blocks = testing::ReadFileBytes(companion);
  ASSERT_EQ(testing::Get32(blocks, 16), 7);
  testing::Put32(blocks, 20, 2);  // first free block: card 1's number
  testing::Put32(blocks, 24, 1);
  testing::WriteFileBytes(companion, blocks);

  ToolRun check = Tool("check " + Quoted(stock));
  EXPECT_EQ(check.status, 1) << check.out;
  EXPECT_NE(check.out.find("block 2 is on the free list and holds a value"), std::string::npos) << check.out;

  ASSERT_TRUE(AppendStockCard(shop, {"点卡"_gbk, "N3", "P3", 0}));
  std::vector<StockCard> cards = LoadStockCardsOf(shop, "点卡"_gbk);
  ASSERT_EQ(cards.size(), 3u);
  EXPECT_EQ(cards[0].cardNumber, "N1");
  EXPECT_EQ(cards[0].cardPassword, "P1");
  EXPECT_EQ(cards[1].cardNumber, "N2");
  EXPECT_EQ(cards[2].cardNumber, "N3");
  EXPECT_EQ(cards[2].cardPassword, "P3");
  check = Tool("check " + Quoted(stock));
  EXPECT_EQ(check.status, 0) << check.out;
}

// ---- import

// A shop in a temporary folder with the item "点卡" monitored.
class ToolImport : public testing::ShopTest {
 protected:
  void SetUp() override {
    ShopTest::SetUp();
    ASSERT_EQ(AddMonitoredItem(shop(), item_), AddItemResult::kAdded);
  }

  ToolRun Import(const std::string& file, const std::string& flags = "") {
    return Tool("import " + Quoted(shop_.path()) + " 点卡 " + Quoted(file) + " " + flags);
  }
  std::vector<std::string> Stock() {
    std::vector<std::string> out;
    for (const StockCard& c : LoadStockCardsOf(shop(), item_))
      out.push_back(c.cardNumber + "|" + c.cardPassword);
    return out;
  }

  const std::string item_ = "点卡"_gbk;
};

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

// The same two cards in each encoding and layout a supplier's file comes
// in; the encoding is told from the content.
TEST_F(ToolImport, FilesOfEachEncoding) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* encoding;
    const char* layout;
    std::vector<std::string> cards;  // GBK
  } cases[] = {
      {"u8.txt", "卡一 密一\nK2 P 2\n", "utf-8", "lines", {"卡一|密一"_gbk, "K2|P 2"}},
      {"bom.txt", "\xEF\xBB\xBF卡三 密三\r\nK4 P4", "utf-8-bom", "lines", {"卡三|密三"_gbk, "K4|P4"}},
      {"gbk.txt", "卡五 密五\r\nK6 P6\r\n"_gbk, "gbk", "lines", {"卡五|密五"_gbk, "K6|P6"}},
      {"u16.txt", Utf16Le("K7 P7\r\nK8 P8\r\n"), "utf-16", "lines", {"K7|P7", "K8|P8"}},
      {"cards.csv",
       "卡号,卡密\r\n卡九,\"密,九\"\r\nK10,P10,,\r\n"_gbk,
       "gbk",
       "csv",
       {"卡九|密,九"_gbk, "K10|P10"}},
  };
  std::vector<std::string> all;
  for (const Case& c : cases) {
    const std::string file = shop_ / c.name;
    testing::WriteFileBytes(file, c.bytes);
    const ToolRun run = Import(file);
    EXPECT_EQ(run.status, 0) << c.name << "\n" << run.out;
    for (const std::string& part :
         {std::string("\"encoding\": \"") + c.encoding + "\"",
          std::string("\"layout\": \"") + c.layout + "\"", std::string("\"lines\": 2"),
          std::string("\"toImport\": 2"), std::string("\"imported\": 2"), std::string("\"keptFile\": null")})
      EXPECT_NE(run.out.find(part), std::string::npos) << c.name << ": " << part << "\n" << run.out;
    all.insert(all.end(), c.cards.begin(), c.cards.end());
    EXPECT_EQ(Stock(), all) << c.name;
  }
}

// The window's import (its core step: checked for the preview, then
// written once the seller confirms) against `table_tool import` of the same
// cards in a second process: the tool's import landing between the preview
// and the confirmation, and both running at once. Every card is stored once.
TEST_F(ToolImport, WindowAndToolImportingTheSameCardsStoreEachOnce) {
  auto cardText = [](int round, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "R" + std::to_string(round) + "-" + std::to_string(i) + " pw\r\n";
    return text;
  };
  auto expectEachOnce = [&](std::size_t total) {
    std::vector<std::string> stock = Stock();
    EXPECT_EQ(stock.size(), total);
    std::sort(stock.begin(), stock.end());
    EXPECT_EQ(std::adjacent_find(stock.begin(), stock.end()), stock.end()) << "a card stored twice";
  };
  const int kCards = 400;

  // The tool's import between the window's preview and its confirmation.
  const std::string first = cardText(0, kCards);
  const std::vector<CardLine> lines = ReadCardLines(first);
  const std::optional<ImportPlan> preview = CheckImport(shop(), item_, lines, false);
  ASSERT_TRUE(preview);
  ASSERT_EQ(preview->cards.size(), static_cast<std::size_t>(kCards));
  testing::WriteFileBytes(shop_ / "cards0.txt", first);
  ASSERT_EQ(Import(shop_ / "cards0.txt").status, 0);
  const CheckedImport confirmed = ImportCheckedCards(shop(), item_, lines, preview->allowDuplicates, false);
  ASSERT_TRUE(confirmed.plan);
  EXPECT_EQ(confirmed.result.written, 0u);
  EXPECT_EQ(confirmed.plan->Count(LineVerdict::kInStock), static_cast<std::size_t>(kCards));
  expectEachOnce(kCards);

  // Both at once, a few rounds of fresh cards.
  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string text = cardText(round, kCards);
    const std::string file = shop_ / ("cards" + std::to_string(round) + ".txt");
    testing::WriteFileBytes(file, text);
    const std::vector<CardLine> roundLines = ReadCardLines(text);
    ToolRun tool;
    std::thread other([&] { tool = Import(file); });
    const CheckedImport window = ImportCheckedCards(shop(), item_, roundLines, false, false);
    other.join();
    EXPECT_EQ(tool.status, 0) << tool.out;
    ASSERT_TRUE(window.plan);
    expectEachOnce(static_cast<std::size_t>(kCards) * (round + 1));
  }
}

// The preview's counts and reasons, a dry run that writes nothing, the
// lines not imported kept beside the file, and the duplicates let in.
TEST_F(ToolImport, DuplicatesPreviewDryRunAndKeptLines) {
  ASSERT_TRUE(AppendStockCard(shop(), {item_, "S1", "p", 0}));
  ASSERT_TRUE(AppendSentCard(shop(), {"另一个"_gbk, "1001", "buyer", 1, "H1", "p", "", "t"}));
  const std::string file = shop_ / "restock.txt";
  testing::WriteFileBytes(file, "N1 p\nS1 p\n\nH1 p\nN1 p\nbad\nN2 p\n");

  const ToolRun dry = Import(file, "--dry-run");
  EXPECT_EQ(dry.status, 0) << dry.out;
  for (const char* part :
       {"\"lines\": 6", "\"toImport\": 2", "\"dryRun\": true",
        "\"reasons\": {\"库存中已有\": 1, \"已发过\": 1, \"本次重复\": 1, \"格式不对\": 1, "
        "\"卡号或卡密为空\": 0}",
        "{\"line\": 2, \"reason\": \"库存中已有\"}", "{\"line\": 4, \"reason\": \"已发过\"}",
        "{\"line\": 5, \"reason\": \"本次重复\"}", "{\"line\": 6, \"reason\": \"格式不对\"}"})
    EXPECT_NE(dry.out.find(part), std::string::npos) << part << "\n" << dry.out;
  EXPECT_EQ(dry.out.find("\"imported\""), std::string::npos);
  EXPECT_EQ(Stock(), (std::vector<std::string>{"S1|p"}));
  EXPECT_FALSE(std::filesystem::exists(shop_ / "restock.未导入.txt"));

  const ToolRun run = Import(file);
  EXPECT_EQ(run.status, 0) << run.out;
  const std::string kept = shop_ / "restock.未导入.txt";
  for (const std::string& part :
       {std::string("\"imported\": 2"), std::string("\"notWritten\": 4"), "\"keptFile\": \"" + kept + "\""})
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
  EXPECT_EQ(Stock(), (std::vector<std::string>{"S1|p", "N1|p", "N2|p"}));
  EXPECT_EQ(testing::ReadFileBytes(kept), "S1 p\nH1 p\nN1 p\nbad\n");

  // Reusable codes: the kept lines again, duplicates allowed; only the line
  // that is no card stays out.
  const ToolRun again = Import(kept, "--allow-duplicates");
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_NE(again.out.find("\"imported\": 3"), std::string::npos) << again.out;
  EXPECT_EQ(Stock(), (std::vector<std::string>{"S1|p", "N1|p", "N2|p", "S1|p", "H1|p", "N1|p"}));
  EXPECT_EQ(testing::ReadFileBytes(shop_ / "restock.未导入.未导入.txt"), "bad\n");
}

TEST_F(ToolImport, RefusesWhatItCannotDo) {
  const std::string file = shop_ / "c.txt";
  testing::WriteFileBytes(file, "N1 p\n");
  struct Case {
    std::string args;
    int status;
    const char* says;
  } cases[] = {
      {"import " + Quoted(shop_.path()) + " 月卡 " + Quoted(file), 1, "is not a monitored item"},
      {"import " + Quoted(shop_.path()) + " 点卡 " + Quoted(shop_ / "none.txt"), 1, "cannot read"},
      {"import " + Quoted(shop_ / "nowhere") + " 点卡 " + Quoted(file), 1, "cannot read the monitored items"},
      {"import " + Quoted(shop_.path()) + " 点卡", 2, "FILE"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << "\n" << run.out;
  }
  EXPECT_TRUE(Stock().empty());
}

// The program runs on the folder (it holds the folder's instance lock) and
// delivers cards while the tool restocks: the tool's check and append hold
// the folder's lock, which every write of the delivery waits for, and
// every card ends up exactly once, in the stock or sent.
TEST_F(ToolImport, BesideARunningDeliveryNoCardIsLostOrDoubled) {
  constexpr int kOld = 2000, kNew = 30000;
  for (int i = 0; i < kOld; ++i)
    ASSERT_TRUE(AppendStockCard(shop(), {item_, "old" + std::to_string(i), "p", 0}));
  std::string lines;
  for (int i = 0; i < kNew; ++i) lines += "new" + std::to_string(i) + " p\n";
  const std::string file = shop_ / "big.txt";
  testing::WriteFileBytes(file, lines);
  InstanceLock program;
  ASSERT_EQ(program.TryAcquire(shop_.path()), InstanceLock::Result::kAcquired);

  std::atomic<bool> toolDone{false};
  ToolRun run{-1, ""};
  std::thread tool([&] {
    run = Import(file);
    toolDone = true;
  });
  // The delivery: take a card, record it as sent, until the tool is done
  // and a few more after.
  int taken = 0, after = 0;
  while (after < 50) {
    std::optional<StockCard> card = TakeStockCard(shop(), item_);
    ASSERT_TRUE(card);
    ASSERT_TRUE(AppendSentCard(shop(), {item_, std::to_string(1000 + taken), "buyer", 1, card->cardNumber,
                                        card->cardPassword, "", "t"}));
    ++taken;
    if (toolDone) ++after;
  }
  tool.join();
  std::printf("cards delivered beside the import: %d\n", taken);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("\"imported\": 30000"), std::string::npos) << run.out.substr(0, 400);

  std::map<std::string, int> seen;
  for (const StockCard& c : LoadStockCardsOf(shop(), item_)) ++seen[c.cardNumber];
  std::vector<SentCard> sent;
  ASSERT_TRUE(LoadSentCards(shop(), &sent));
  EXPECT_EQ(sent.size(), static_cast<std::size_t>(taken));
  for (const SentCard& c : sent) ++seen[c.cardNumber];
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kOld + kNew));
  for (int i = 0; i < kOld; ++i) EXPECT_EQ(seen["old" + std::to_string(i)], 1) << i;
  for (int i = 0; i < kNew; ++i) ASSERT_EQ(seen["new" + std::to_string(i)], 1) << i;
  // The oldest cards went first.
  EXPECT_EQ(sent.front().cardNumber, "old0");
}

}  // namespace
}  // namespace autodeliver
