// Figures for the store operations that the delivery cycle and the stock
// page run most, on tables of 1,000, 10,000 and 100,000 cards:
// AppendStockCard, TakeStockCard, LoadStockCardsOf and SentCardExists, each
// one table access (open, work, close) as the program does it. The same work
// on an SQLite table with the same columns and no index (the record table
// has none), one connection per operation, is the baseline.
//
// The cards belong to ten items in turn, so an item's cards are spread over
// the whole table.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr int kItems = 10;

std::string ItemName(int i) { return "游戏点卡"_gbk + std::to_string(i % kItems); }
std::string CardNumber(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%016d", 1000000 + i);
  return buf;
}
std::string CardPassword(int i) { return "pw" + std::to_string(i * 7919) + "xyzzy"; }
std::string OrderNumber(int i) { return "2012112000" + std::to_string(100000000 + i); }

// A fresh program directory with N stock cards and N sent cards.
class StoreDir {
 public:
  explicit StoreDir(int n) {
    CreateDataTables(folder_.path());
    RecordTable stock, sent;
    stock.Open(shop().StockTablePath());
    stock.Hold(true);
    sent.Open(shop().SentTablePath());
    sent.Hold(true);
    for (int i = 0; i < n; ++i) {
      stock.Append({ItemName(i), CardNumber(i), CardPassword(i)});
      sent.Append({ItemName(i), OrderNumber(i), "buyer" + std::to_string(i), "1", CardNumber(i),
                   CardPassword(i), std::string(), "2012年11月20日9时5分"_gbk});
    }
  }
  ShopContext& shop() { return shop_; }

 private:
  bench::TempFolder folder_;
  ShopContext shop_{folder_.path()};
};

// The same two tables in SQLite.
class SqliteDb {
 public:
  explicit SqliteDb(int n) {
    path_ = folder_ / "shop.db";
    sqlite3* db = Connect();
    sqlite3_exec(
        db,
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE stock(id INTEGER PRIMARY KEY, item TEXT, number TEXT, password TEXT);"
        "CREATE TABLE sent(id INTEGER PRIMARY KEY, item TEXT, order_number TEXT, buyer TEXT, quantity TEXT,"
        " number TEXT, password TEXT, remark TEXT, sent_at TEXT);"
        "BEGIN;",
        nullptr, nullptr, nullptr);
    sqlite3_stmt* s1 = Prepare(db, "INSERT INTO stock(item, number, password) VALUES(?,?,?)");
    sqlite3_stmt* s2 =
        Prepare(db,
                "INSERT INTO sent(item, order_number, buyer, quantity, number, password, remark,"
                " sent_at) VALUES(?,?,?,'1',?,?,'',?)");
    for (int i = 0; i < n; ++i) {
      Bind(s1, {ItemName(i), CardNumber(i), CardPassword(i)});
      sqlite3_step(s1);
      sqlite3_reset(s1);
      Bind(s2, {ItemName(i), OrderNumber(i), "buyer" + std::to_string(i), CardNumber(i), CardPassword(i),
                "2012年11月20日9时5分"_gbk});
      sqlite3_step(s2);
      sqlite3_reset(s2);
    }
    sqlite3_finalize(s1);
    sqlite3_finalize(s2);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }

  // One connection per operation, as the store opens a table per operation.
  // No fsync on either side.
  sqlite3* Connect() const {
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, "PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
    return db;
  }
  static sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    return s;
  }
  static void Bind(sqlite3_stmt* s, std::initializer_list<std::string> values) {
    int k = 1;
    for (const auto& v : values)
      sqlite3_bind_text(s, k++, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }

 private:
  bench::TempFolder folder_;
  std::string path_;
};

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
}

// ---- record tables

void BM_Store_AppendStockCard(benchmark::State& state) {
  StoreDir dir(static_cast<int>(state.range(0)));
  int i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(AppendStockCard(dir.shop(), {ItemName(i), CardNumber(i), CardPassword(i), 0})),
        ++i;
}
BENCHMARK(BM_Store_AppendStockCard)->Apply(Sizes);

void BM_Store_TakeStockCard(benchmark::State& state) {
  StoreDir dir(static_cast<int>(state.range(0)));
  int i = 0;
  for (auto _ : state) {
    auto card = TakeStockCard(dir.shop(), ItemName(3));
    benchmark::DoNotOptimize(card);
    state.PauseTiming();
    AppendStockCard(dir.shop(), {ItemName(3), CardNumber(++i), CardPassword(i), 0});  // keep the size
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Store_TakeStockCard)->Apply(Sizes);

// A take as a delivery records it: the item's first card marked and the
// stock purged at once, in one held access of the table. The purge frees
// the card's companion blocks.
void BM_Store_TakeAndPurgeStockCard(benchmark::State& state) {
  StoreDir dir(static_cast<int>(state.range(0)));
  int i = static_cast<int>(state.range(0));
  for (auto _ : state) {
    RecordTable t;
    if (!t.Open(dir.shop().StockTablePath()) || !t.Hold(true) || !t.GoTo(4) || !t.MarkDeleted() || !t.Purge())
      state.SkipWithError("the take failed");
    t.Close();
    state.PauseTiming();
    AppendStockCard(dir.shop(), {ItemName(3), CardNumber(++i), CardPassword(i), 0});  // keep the size
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Store_TakeAndPurgeStockCard)->Apply(Sizes);

void BM_Store_LoadStockCardsOf(benchmark::State& state) {
  StoreDir dir(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(LoadStockCardsOf(dir.shop(), ItemName(3)));
}
BENCHMARK(BM_Store_LoadStockCardsOf)->Apply(Sizes);

void BM_Store_SentCardExists(benchmark::State& state) {
  StoreDir dir(static_cast<int>(state.range(0)));
  // An order not delivered yet: the whole table is searched, as for every
  // new order of a cycle.
  for (auto _ : state) benchmark::DoNotOptimize(SentCardExists(dir.shop(), "not-delivered"));
}
BENCHMARK(BM_Store_SentCardExists)->Apply(Sizes);

// ---- SQLite baseline

void BM_Sqlite_AppendStockCard(benchmark::State& state) {
  SqliteDb db(static_cast<int>(state.range(0)));
  int i = 0;
  for (auto _ : state) {
    sqlite3* c = db.Connect();
    sqlite3_stmt* s = SqliteDb::Prepare(c, "INSERT INTO stock(item, number, password) VALUES(?,?,?)");
    SqliteDb::Bind(s, {ItemName(i), CardNumber(i), CardPassword(i)});
    benchmark::DoNotOptimize(sqlite3_step(s));
    sqlite3_finalize(s);
    sqlite3_close(c);
    ++i;
  }
}
BENCHMARK(BM_Sqlite_AppendStockCard)->Apply(Sizes);

void BM_Sqlite_TakeStockCard(benchmark::State& state) {
  SqliteDb db(static_cast<int>(state.range(0)));
  int i = 0;
  for (auto _ : state) {
    sqlite3* c = db.Connect();
    sqlite3_exec(c, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr);
    sqlite3_stmt* s =
        SqliteDb::Prepare(c, "SELECT id, number, password FROM stock WHERE item=? ORDER BY id LIMIT 1");
    SqliteDb::Bind(s, {ItemName(3)});
    std::string number, password;
    sqlite3_int64 id = 0;
    if (sqlite3_step(s) == SQLITE_ROW) {
      id = sqlite3_column_int64(s, 0);
      number = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
      password = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
    }
    sqlite3_finalize(s);
    s = SqliteDb::Prepare(c, "DELETE FROM stock WHERE id=?");
    sqlite3_bind_int64(s, 1, id);
    sqlite3_step(s);
    sqlite3_finalize(s);
    sqlite3_exec(c, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(c);
    benchmark::DoNotOptimize(number);
    state.PauseTiming();
    c = db.Connect();
    s = SqliteDb::Prepare(c, "INSERT INTO stock(item, number, password) VALUES(?,?,?)");
    SqliteDb::Bind(s, {ItemName(3), CardNumber(++i), CardPassword(i)});
    sqlite3_step(s);
    sqlite3_finalize(s);
    sqlite3_close(c);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Sqlite_TakeStockCard)->Apply(Sizes);

void BM_Sqlite_LoadStockCardsOf(benchmark::State& state) {
  SqliteDb db(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    sqlite3* c = db.Connect();
    sqlite3_stmt* s = SqliteDb::Prepare(c, "SELECT id, number, password FROM stock WHERE item=? ORDER BY id");
    SqliteDb::Bind(s, {ItemName(3)});
    std::vector<StockCard> cards;
    while (sqlite3_step(s) == SQLITE_ROW) {
      StockCard card;
      card.itemName = ItemName(3);
      card.cardNumber = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
      card.cardPassword = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
      card.recordNumber = static_cast<int>(sqlite3_column_int64(s, 0));
      cards.push_back(std::move(card));
    }
    sqlite3_finalize(s);
    sqlite3_close(c);
    benchmark::DoNotOptimize(cards);
  }
}
BENCHMARK(BM_Sqlite_LoadStockCardsOf)->Apply(Sizes);

void BM_Sqlite_SentCardExists(benchmark::State& state) {
  SqliteDb db(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    sqlite3* c = db.Connect();
    sqlite3_stmt* s = SqliteDb::Prepare(c, "SELECT 1 FROM sent WHERE order_number=? LIMIT 1");
    SqliteDb::Bind(s, {"not-delivered"});
    benchmark::DoNotOptimize(sqlite3_step(s) == SQLITE_ROW);
    sqlite3_finalize(s);
    sqlite3_close(c);
  }
}
BENCHMARK(BM_Sqlite_SentCardExists)->Apply(Sizes);

}  // namespace
}  // namespace autodeliver

BENCHMARK_MAIN();
