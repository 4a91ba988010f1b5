// The store work of one order's delivery, durable against the same work
// without a flush, and against SQLite doing it in one transaction with
// synchronous=FULL (rollback journal), all in the same run on the same file
// system. Per order: one card of an item taken from a stock of 1,000 and its
// sent row written.
//
//   non-durable: LoadStockCardsOf, TakeStockCard, AppendSentCard (the tables
//                not flushed; only the purge of the take flushes its journal)
//   durable:     the journal's plan (flushed), RecordPlannedCards (sent
//                rows, stock mark, both tables flushed), then the recorded,
//                handed and consigned lines (not flushed); the delivery
//                itself defers the table flushes to the end of its cycle
//                (wal_bench measures that)
//   SQLite FULL: BEGIN; SELECT the oldest card; DELETE it; INSERT the sent
//                row; COMMIT
//
// Usage: ledger_bench [folder] [orders]; the folder (default: the current
// one) must be on the disk whose cost is wanted (not a tmpfs).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "delivery/journal.h"
#include "store/delivery_step.h"
#include "store/sent_table.h"
#include "store/sent_time.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr int kStock = 1000;
using bench::Clock;
using bench::MsSince;

std::string Item() { return "游戏点卡"_gbk; }
std::string Number(int i) { return "CARD" + std::to_string(100000 + i); }

std::vector<ImportedCard> Cards() {
  std::vector<ImportedCard> cards;
  for (int i = 0; i < kStock; ++i) cards.push_back({Number(i), "pw" + std::to_string(i)});
  return cards;
}

bool FreshStore(ShopContext& shop, const std::filesystem::path& dir) {
  return bench::FreshShop(shop, dir, Item(), Cards());
}

double NonDurable(const std::filesystem::path& dir, int orders) {
  ShopContext shop(dir.string());
  if (!FreshStore(shop, dir)) return -1;
  const auto start = Clock::now();
  for (int i = 0; i < orders; ++i) {
    const std::vector<StockCard> stock = LoadStockCardsOf(shop, Item());
    std::optional<StockCard> card = TakeStockCard(shop, Item());
    if (stock.empty() || !card) return -1;
    AppendSentCard(shop, {Item(), "ORDER" + std::to_string(i), "buyer", 1, card->cardNumber,
                          card->cardPassword, "", SentAtNow()});
  }
  return MsSince(start) / orders;
}

double Durable(const std::filesystem::path& dir, int orders) {
  ShopContext shop(dir.string());
  if (!FreshStore(shop, dir)) return -1;
  DeliveryJournal journal(shop);
  const auto start = Clock::now();
  for (int i = 0; i < orders; ++i) {
    const std::vector<StockCard> stock = LoadStockCardsOf(shop, Item());
    if (stock.empty()) return -1;
    DeliveryPlan plan{"ORDER" + std::to_string(i), Item(), "buyer", "", 1, SentAtNow(), {}};
    plan.cards.push_back(
        {stock[0].recordNumber, stock[0].cardNumber, stock[0].cardPassword, stock[0].cardNumber});
    if (!journal.Planned(plan) || RecordPlannedCards(shop, plan) != RecordOutcome::kRecorded) return -1;
    journal.Recorded(plan.orderNumber);
    journal.Handed(plan.orderNumber);
    journal.Consigned(plan.orderNumber);
  }
  return MsSince(start) / orders;
}

double Sqlite(const std::filesystem::path& dir, int orders) {
  using bench::SqliteDb;
  const std::unique_ptr<SqliteDb> db = bench::FreshSqliteShop(dir, "DELETE", "FULL", "", Item(), Cards());
  sqlite3_stmt* pick =
      db->Prepare("SELECT rowid, number, password FROM stock WHERE item=? ORDER BY rowid LIMIT 1");
  sqlite3_stmt* drop = db->Prepare("DELETE FROM stock WHERE rowid=?");
  sqlite3_stmt* record = db->Prepare("INSERT INTO sent VALUES(?,?,'buyer','1',?,?,'',?)");
  const std::string item = Item();
  const auto start = Clock::now();
  for (int i = 0; i < orders; ++i) {
    db->Exec("BEGIN IMMEDIATE");
    SqliteDb::Text(pick, 1, item);
    if (sqlite3_step(pick) != SQLITE_ROW) return -1;
    const sqlite3_int64 rowid = sqlite3_column_int64(pick, 0);
    const std::string number = reinterpret_cast<const char*>(sqlite3_column_text(pick, 1));
    const std::string password = reinterpret_cast<const char*>(sqlite3_column_text(pick, 2));
    sqlite3_reset(pick);
    sqlite3_bind_int64(drop, 1, rowid);
    SqliteDb::Step(drop);
    SqliteDb::Text(record, 1, item);
    SqliteDb::Text(record, 2, "ORDER" + std::to_string(i));
    SqliteDb::Text(record, 3, number);
    SqliteDb::Text(record, 4, password);
    SqliteDb::Text(record, 5, SentAtNow());
    SqliteDb::Step(record);
    db->Exec("COMMIT");
  }
  return MsSince(start) / orders;
}

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  using namespace autodeliver;
  const std::filesystem::path base =
      std::filesystem::path(argc > 1 ? argv[1] : ".") / ("ledger_bench_" + std::to_string(getpid()));
  const int orders = argc > 2 ? std::atoi(argv[2]) : 200;
  const double plain = NonDurable(base / "plain", orders);
  const double durable = Durable(base / "durable", orders);
  const double sqlite = Sqlite(base / "sqlite", orders);
  std::filesystem::remove_all(base);
  std::printf("store work per order, %d orders, stock of %d cards\n", orders, kStock);
  std::printf("  non-durable (no flush)          %8.3f ms\n", plain);
  std::printf("  durable ledger (flushed)        %8.3f ms   x%.2f of non-durable\n", durable,
              durable / plain);
  std::printf("  SQLite synchronous=FULL         %8.3f ms   durable/SQLite = %.2f\n", sqlite,
              durable / sqlite);
  return plain < 0 || durable < 0 || sqlite < 0 ? 1 : 0;
}
