// Figures for the card import and the items page at a busy shop's scale:
//
// - Import: 100,000 cards appended to the stock in one table access
//   (ImportStockCards, the append of the window and the table tool:
//   batches of 1,000 with a progress report and a look at the cancel flag
//   after each), against SQLite inserting the same rows in one transaction
//   in the same run. The counters give both times and their ratio. Goal: at
//   most 1 s, at most 3 times SQLite. The whole import of a pasted text
//   (reading the lines, the duplicate check against an empty stock and
//   history, the append) is timed the same way.
// - Duplicate check: 100,000 lines against 100,000 cards in the item's stock
//   and 100,000 sent cards (CheckImport: one pass over each table). Goal: at
//   most 300 ms. The reading of the pasted text is timed on its own.
// - Items page figures: 1,000 items and 1,000,000 cards (LoadItemStock: the
//   items, one counting pass over the stock, the warning levels).
//
// Every run works on fresh tables in a temporary directory; neither side
// syncs to disk.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "import/card_lines.h"
#include "import/import_check.h"
#include "store/item_table.h"
#include "store/seller_actions.h"
#include "store/shop_paths.h"
#include "store/stock_counts.h"
#include "store/table_schema.h"
#include "store/warning_levels.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using bench::Clock;
using bench::MsSince;

std::string CardNumber(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%016d", 1000000 + i);
  return buf;
}
std::string CardPassword(int i) { return "pw" + std::to_string(i * 7919) + "xyzzy"; }
const std::string& Item() {
  static const std::string name = "游戏点卡 100元 自动发货"_gbk;
  return name;
}

// A fresh program directory with the installed tables, removed at the end.
class ShopDir {
 public:
  ShopDir() { CreateDataTables(folder_.path()); }
  ShopContext& shop() { return shop_; }
  const std::string& path() const { return folder_.path(); }

 private:
  bench::TempFolder folder_;
  ShopContext shop_{folder_.path()};
};

// SQLite inserting `cards` into a table with the stock's columns, one
// prepared statement, one transaction; the time of the insert alone.
double SqliteInsertMs(const std::string& dir, const std::vector<ImportedCard>& cards) {
  sqlite3* db = nullptr;
  sqlite3_open((dir + "/shop.db").c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA synchronous=OFF;"
               "CREATE TABLE stock(id INTEGER PRIMARY KEY, item TEXT, number TEXT, password TEXT);",
               nullptr, nullptr, nullptr);
  const Clock::time_point start = Clock::now();
  sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO stock(item, number, password) VALUES(?,?,?)", -1, &s, nullptr);
  for (const ImportedCard& c : cards) {
    sqlite3_bind_text(s, 1, Item().data(), static_cast<int>(Item().size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 2, c.cardNumber.data(), static_cast<int>(c.cardNumber.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 3, c.cardPassword.data(), static_cast<int>(c.cardPassword.size()), SQLITE_STATIC);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  const double ms = MsSince(start);
  sqlite3_close(db);
  return ms;
}

void BM_Import_ImportStockCards(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<ImportedCard> cards;
  for (int i = 0; i < n; ++i) cards.push_back({CardNumber(i), CardPassword(i)});
  double storeMs = 0, sqliteMs = 0;
  for (auto _ : state) {
    ShopDir dir;
    std::size_t reports = 0;
    std::atomic<bool> cancel{false};
    const Clock::time_point start = Clock::now();
    const StockImport result = ImportStockCards(
        dir.shop(), Item(), cards, [&](std::size_t, std::size_t) { ++reports; }, &cancel);
    const double ms = MsSince(start);
    if (result.written != cards.size()) state.SkipWithError("the import stopped early");
    state.SetIterationTime(ms / 1000);
    storeMs += ms;
    sqliteMs += SqliteInsertMs(dir.path(), cards);
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["store_ms"] = storeMs / runs;
  state.counters["sqlite_ms"] = sqliteMs / runs;
  state.counters["ratio_to_sqlite"] = storeMs / sqliteMs;
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Import_ImportStockCards)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The whole import of a pasted text of n lines into an empty shop: the
// lines read, checked against the stock and the history, the plan written.
void BM_Import_PastedTextWhole(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string text;
  std::vector<ImportedCard> cards;
  for (int i = 0; i < n; ++i) {
    text += CardNumber(i) + " " + CardPassword(i) + "\r\n";
    cards.push_back({CardNumber(i), CardPassword(i)});
  }
  double storeMs = 0, sqliteMs = 0;
  for (auto _ : state) {
    ShopDir dir;
    const Clock::time_point start = Clock::now();
    const std::vector<CardLine> lines = ReadCardLines(text);
    const std::optional<ImportPlan> plan = CheckImport(dir.shop(), Item(), lines, false);
    const StockImport result = plan ? ImportStockCards(dir.shop(), Item(), plan->cards) : StockImport();
    const double ms = MsSince(start);
    if (result.written != static_cast<std::size_t>(n)) state.SkipWithError("cards missing");
    state.SetIterationTime(ms / 1000);
    storeMs += ms;
    sqliteMs += SqliteInsertMs(dir.path(), cards);
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["store_ms"] = storeMs / runs;
  state.counters["sqlite_ms"] = sqliteMs / runs;
  state.counters["ratio_to_sqlite"] = storeMs / sqliteMs;
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Import_PastedTextWhole)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The stock holds cards 0..n-1 of the item, the history cards n..2n-1 (of
// several items); the import is n lines: a fifth in the stock, a fifth
// sent, a tenth repeated, the rest new.
void BM_Import_CheckDuplicates(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ShopDir dir;
  {
    RecordTable stock, sent;
    stock.Open(dir.shop().StockTablePath());
    stock.Hold(true);
    sent.Open(dir.shop().SentTablePath());
    sent.Hold(true);
    for (int i = 0; i < n; ++i) {
      stock.Append({Item(), CardNumber(i), CardPassword(i)});
      sent.Append({Item() + std::to_string(i % 7), std::to_string(2012112000000000LL + i), "buyer", "1",
                   CardNumber(n + i), CardPassword(n + i), std::string(), "2012年11月20日9时5分"_gbk});
    }
  }
  std::string text;
  for (int i = 0; i < n; ++i) {
    int k;
    if (i % 10 < 2) {
      k = i;  // in stock
    } else if (i % 10 < 4) {
      k = n + i;  // sent
    } else if (i % 10 == 4 && i > 10) {
      k = 2 * n + i - 5;  // a repeat of a line before
    } else {
      k = 2 * n + i;  // new
    }
    text += CardNumber(k) + " " + CardPassword(k) + "\r\n";
  }
  const std::vector<CardLine> lines = ReadCardLines(text);
  std::size_t kept = 0;
  for (auto _ : state) {
    std::optional<ImportPlan> plan = CheckImport(dir.shop(), Item(), lines, false);
    if (!plan) state.SkipWithError("the check failed");
    kept = plan ? plan->keptLines.size() : 0;
    benchmark::DoNotOptimize(plan);
  }
  state.counters["lines_kept"] = static_cast<double>(kept);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Import_CheckDuplicates)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Import_ReadPastedLines(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string text;
  for (int i = 0; i < n; ++i) text += CardNumber(i) + " " + CardPassword(i) + "\r\n";
  for (auto _ : state) benchmark::DoNotOptimize(ReadCardLines(text));
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Import_ReadPastedLines)->Arg(100000)->Unit(benchmark::kMillisecond);

// `items` items, each with cards / items cards, interleaved as imports of
// several items over time leave them; every tenth item has a level of its
// own.
void BM_ItemsPage_LoadItemStock(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  const int cards = static_cast<int>(state.range(1));
  ShopDir dir;
  auto name = [](int k) { return "游戏点卡 面值"_gbk + std::to_string(k) + " 自动发货"_gbk; };
  for (int k = 0; k < items; ++k) {
    AppendItem(dir.shop(), {name(k), "", 0, true});
    if (k % 10 == 0) SetWarningLevel(dir.shop(), name(k), k % 30);
  }
  {
    RecordTable stock;
    stock.Open(dir.shop().StockTablePath());
    stock.Hold(true);
    for (int i = 0; i < cards; ++i) stock.Append({name(i % items), CardNumber(i), CardPassword(i)});
  }
  StockCounts waiting{{name(3), 2}};
  for (auto _ : state) {
    std::vector<ItemStock> figures;
    if (!LoadItemStock(dir.shop(), waiting, &figures) || figures.size() != static_cast<std::size_t>(items))
      state.SkipWithError("the figures failed");
    benchmark::DoNotOptimize(figures);
  }
  state.SetItemsProcessed(state.iterations() * cards);
}
BENCHMARK(BM_ItemsPage_LoadItemStock)->Args({1000, 1000000})->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace autodeliver

BENCHMARK_MAIN();
