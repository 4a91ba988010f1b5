// What one delivery costs the store as the shop grows: for N = 10, 1,000,
// 10,000 and 100,000 stock cards and sent cards, in one run,
//
//   order   the store work of a one-card order: the sent check, the item
//           check, two loads of the card the order gets, the take and the
//           sent record (the first use, which builds the index, is shown
//           apart as "first");
//   ledger  the same as the delivery does it: the checks, then in one hold
//           of the store lock one load (the second is made only after an
//           online card was resolved without the lock) and the plan recorded
//           in one step (RecordPlannedCards: the sent row and the stock
//           mark, both tables held at once); its two flushes
//           are left out here (a FileIo whose Sync returns at once), as
//           SQLite's commit at synchronous=NORMAL in WAL mode does not flush
//           either (bench/delivery/ledger_bench measures the durable step);
//   held    the same as ledger with the tables held open for the delivery
//           session (DeliveryTables), as the cycle delivers: the checks of
//           a cycle of ten orders in one hold, then per order in one hold
//           the order looked up again, its cards loaded, the message
//           template read and the plan recorded;
//   full    the same as order with the two loads reading every card of the
//           item (LoadStockCardsOf instead of LoadFirstStockCardsOf);
//   idle    a cycle with ten listed orders that are all delivered already:
//           ten sent checks, ten item checks and the idle compaction hook;
//   old     first, order and ledger on tables of the earlier layout (item
//           names, order numbers and nicks as long texts in the companion
//           file) instead of the installed one (fixed-width fields);
//   mdb     one card appended to a card.mdb of N rows (the changed pages
//           written in place behind the undo journal, both flushed);
//   floor   one 4 KiB page written in place into a file in the same folder
//           and flushed (fsync), the reference line for mdb;
//   sqlite  the order's work on SQLite (one transaction, WAL,
//           synchronous=NORMAL, indexes on the looked-up columns), the
//           reference line.
//
// Figures are milliseconds per unit of work, the median of several rounds.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "export/card_export.h"
#include "export/jet4/jet4_image.h"
#include "export/jet4/jet4_replace.h"
#include "io/file_io.h"
#include "store/delivery_step.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/store_lock.h"
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

// Writes the file and flushes it, so that the appends measured do not pay
// for writing out the whole freshly made file.
void WriteFlushed(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || !WriteFully(DefaultFileIo(), fd, bytes.data(), bytes.size(), 0) || ::fsync(fd) != 0)
    std::abort();
  ::close(fd);
}

SentCard Sent(int i) {
  SentCard c;
  c.itemName = ItemName(i);
  c.orderNumber = OrderNumber(i);
  c.buyerNick = "buyer" + std::to_string(i);
  c.quantity = 1;
  c.cardNumber = CardNumber(i);
  c.cardPassword = CardPassword(i);
  c.sentAt = "2012年11月20日9时5分"_gbk;
  return c;
}

// The store work of one one-card order `i`; `fullLoads` loads every card of
// the item, as a caller of LoadStockCardsOf does, instead of the first one.
void StoreOrder(ShopContext& shop, int i, bool fullLoads = false) {
  const std::string item = ItemName(i);
  if (SentCardExists(shop, OrderNumber(i))) std::abort();
  if (!ItemExists(shop, item)) std::abort();
  std::size_t total = 0;
  for (int k = 0; k < 2; ++k) {
    if (fullLoads ? LoadStockCardsOf(shop, item).empty()
                  : LoadFirstStockCardsOf(shop, item, 1, &total).empty())
      std::abort();
  }
  auto card = TakeStockCard(shop, item);
  if (!card) std::abort();
  SentCard s = Sent(i);
  s.cardNumber = card->cardNumber;
  s.cardPassword = card->cardPassword;
  if (!AppendSentCard(shop, s)) std::abort();
}

// One 4 KiB page written in place into a file of a folder and flushed,
// five at a time.
class PageWriteFloor {
 public:
  explicit PageWriteFloor(const std::string& dir) : path_(dir + "/floor.bin"), page_(4096, 'p') {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) std::abort();
    for (int k = 0; k < 16; ++k) Write(k);
    ::fsync(fd_);
  }
  ~PageWriteFloor() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  void FiveFlushedWrites() {
    for (int i = 0; i < 5; ++i, ++k_) {
      page_[0] = static_cast<char>(k_);
      Write(k_ % 16);
      if (::fsync(fd_) != 0) std::abort();
    }
  }

 private:
  void Write(int at) {
    if (::pwrite(fd_, page_.data(), page_.size(), 4096 * at) != 4096) std::abort();
  }
  std::string path_;
  std::string page_;
  int fd_ = -1;
  int k_ = 0;
};

// The file-system calls with flushes that return at once.
class NoFlushIo : public FileIo {
 public:
  int Sync(int) override { return 0; }
};

// Order `i` as the delivery's store work does it; see "ledger" above.
void LedgerOrder(ShopContext& shop, int i) {
  const std::string item = ItemName(i);
  if (SentCardExists(shop, OrderNumber(i))) std::abort();
  if (!ItemExists(shop, item)) std::abort();
  std::size_t total = 0;
  StoreGuard guard(shop);
  const std::vector<StockCard> first = LoadFirstStockCardsOf(shop, item, 1, &total);
  if (first.empty()) std::abort();
  const SentCard s = Sent(i);
  DeliveryPlan plan;
  plan.orderNumber = s.orderNumber;
  plan.itemName = item;
  plan.buyerNick = s.buyerNick;
  plan.quantity = 1;
  plan.sentAt = s.sentAt;
  plan.cards.push_back(
      {first[0].recordNumber, first[0].cardNumber, first[0].cardPassword, first[0].cardNumber});
  if (RecordPlannedCards(shop, plan) != RecordOutcome::kRecorded) std::abort();
}

// The cycle's look at orders `first` to `first + n - 1` in one hold.
void HeldLook(DeliveryTables& tables, int first, int n) {
  DeliveryTables::Hold hold(tables);
  for (int i = first; i < first + n; ++i)
    if (tables.SentCardExists(OrderNumber(i)) || !tables.ItemExists(ItemName(i))) std::abort();
}

// Order `i` on the tables of a delivery session; see "held" above.
void HeldOrder(DeliveryTables& tables, int i) {
  const std::string item = ItemName(i);
  DeliveryTables::Hold hold(tables, true);
  if (tables.SentCardExists(OrderNumber(i)) || !tables.ItemExists(item)) std::abort();
  std::size_t total = 0;
  const std::vector<StockCard> first = tables.LoadFirstStockCardsOf(item, 1, &total);
  if (first.empty()) std::abort();
  tables.SettingValues("宝贝消息模板"_gbk);
  const SentCard s = Sent(i);
  DeliveryPlan plan;
  plan.orderNumber = s.orderNumber;
  plan.itemName = item;
  plan.buyerNick = s.buyerNick;
  plan.quantity = 1;
  plan.sentAt = s.sentAt;
  plan.cards.push_back(
      {first[0].recordNumber, first[0].cardNumber, first[0].cardPassword, first[0].cardNumber});
  if (tables.RecordPlannedCards(plan, nullptr, TableFlush::kDeferred) != RecordOutcome::kRecorded)
    std::abort();
}

struct StoreFigures {
  double first = 0, order = 0, ledger = 0, held = 0, full = 0, idle = 0;
};

struct Row {
  int n;
  StoreFigures now, old;
  double mdb, floor, sqlite;
};

StoreFigures MeasureStore(int n, TableLayout layout) {
  StoreFigures row;
  const bench::TempFolder folder;
  const std::string& dir = folder.path();
  CreateDataTables(dir, nullptr, layout);
  ShopContext shop(dir);
  {
    RecordTable items, stock, sent;
    items.Open(shop.ItemsTablePath());
    for (int k = 0; k < kItems; ++k) items.Append({ItemName(k), std::string(), "0", "真"_gbk});
    stock.Open(shop.StockTablePath());
    stock.Hold(true);
    sent.Open(shop.SentTablePath());
    sent.Hold(true);
    // Enough stock for the orders measured below, on top of N.
    for (int i = 0; i < n + 3000; ++i) stock.Append({ItemName(i), CardNumber(i), CardPassword(i)});
    for (int i = 0; i < n; ++i) {
      SentCard c = Sent(i);
      sent.Append({c.itemName, c.orderNumber, c.buyerNick, "1", c.cardNumber, c.cardPassword, std::string(),
                   c.sentAt});
    }
  }
  int next = n;  // order numbers not yet delivered
  row.first = bench::MedianMs(1, 1, [&] { StoreOrder(shop, next++); });
  row.order = bench::MedianMs(7, 100, [&] {
    for (int k = 0; k < 100; ++k) StoreOrder(shop, next++);
  });
  NoFlushIo noFlush;
  shop.SetDeliveryFileIo(&noFlush);
  row.ledger = bench::MedianMs(7, 100, [&] {
    for (int k = 0; k < 100; ++k) LedgerOrder(shop, next++);
  });
  // A session per ten orders, as a cycle of ten.
  row.held = bench::MedianMs(7, 100, [&] {
    for (int k = 0; k < 100; k += 10) {
      DeliveryTables tables(shop);
      HeldLook(tables, next, 10);
      for (int j = 0; j < 10; ++j) HeldOrder(tables, next++);
    }
  });
  shop.SetDeliveryFileIo(nullptr);
  row.full = bench::MedianMs(5, 20, [&] {
    for (int k = 0; k < 20; ++k) StoreOrder(shop, next++, true);
  });
  row.idle = bench::MedianMs(7, 1, [&] {
    for (int k = 0; k < 10; ++k) {
      if (!SentCardExists(shop, OrderNumber(k))) std::abort();
      if (!ItemExists(shop, ItemName(k))) std::abort();
    }
    CompactStockIfWorthIt(shop);
  });
  return row;
}

Row Measure(int n) {
  Row row{n, MeasureStore(n, TableLayout::kInstalled), MeasureStore(n, TableLayout::kLongTexts), 0, 0, 0};

  // card.mdb of N rows. The tables written above are flushed first, so that
  // neither the mdb line nor its floor waits for their write-out.
  ::sync();
  const bench::TempFolder mdbFolder;
  const std::string& mdbDir = mdbFolder.path();
  {
    jet4::Image image(jet4::CardDatabaseImage());
    jet4::TableDef def = image.ReadTableDef(*image.FindTable(u"biao"));
    for (int i = 0; i < n; ++i) {
      std::string s = std::to_string(i);
      std::u16string u(s.begin(), s.end());
      image.AppendRow(def, jet4::EncodeRow(def, {jet4::EncodeText(u"2012112012" + u, true),
                                                 jet4::EncodeText(u"CARD-0000-0000-" + u, true),
                                                 jet4::EncodeText(u"PW-" + u, true)}));
    }
    WriteFlushed(mdbDir + "/card.mdb", image.bytes());
  }
  // The floor and the appends take turns, round by round, so that both meet
  // the disk in the same state.
  {
    PageWriteFloor floor(mdbDir);
    int m = 0;
    const std::vector<std::vector<double>> figures = bench::Interleaved(
        9, {[&] { return bench::MedianMs(1, 5, [&] { floor.FiveFlushedWrites(); }); },
            [&] {
              return bench::MedianMs(1, 5, [&] {
                for (int k = 0; k < 5; ++k, ++m)
                  if (!ExportCardToAccessAt(mdbDir, OrderNumber(m), CardNumber(m), CardPassword(m)))
                    std::abort();
              });
            }});
    row.floor = bench::Median(figures[0]);
    row.mdb = bench::Median(figures[1]);
  }

  // The same order work on SQLite.
  const bench::TempFolder sqlFolder;
  const std::string& sqlDir = sqlFolder.path();
  sqlite3* db = nullptr;
  sqlite3_open((sqlDir + "/shop.db").c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
               "CREATE TABLE items(name TEXT);"
               "CREATE TABLE stock(id INTEGER PRIMARY KEY, item TEXT, number TEXT, password TEXT);"
               "CREATE TABLE sent(id INTEGER PRIMARY KEY, item TEXT, order_number TEXT, buyer TEXT,"
               " quantity TEXT, number TEXT, password TEXT, remark TEXT, sent_at TEXT);"
               "CREATE INDEX stock_item ON stock(item, id); CREATE INDEX sent_order ON sent(order_number);"
               "CREATE INDEX items_name ON items(name);",
               nullptr, nullptr, nullptr);
  auto prepare = [&](const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    return st;
  };
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insItem = prepare("INSERT INTO items(name) VALUES(?)");
  sqlite3_stmt* insStock = prepare("INSERT INTO stock(item, number, password) VALUES(?,?,?)");
  sqlite3_stmt* insSent = prepare(
      "INSERT INTO sent(item, order_number, buyer, quantity, number, password, remark, sent_at)"
      " VALUES(?,?,?,?,?,?,?,?)");
  auto text = [](sqlite3_stmt* st, int k, const std::string& s) {
    sqlite3_bind_text(st, k, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  };
  for (int k = 0; k < kItems; ++k) {
    text(insItem, 1, ItemName(k));
    sqlite3_step(insItem);
    sqlite3_reset(insItem);
  }
  for (int i = 0; i < n + 3000; ++i) {
    text(insStock, 1, ItemName(i));
    text(insStock, 2, CardNumber(i));
    text(insStock, 3, CardPassword(i));
    sqlite3_step(insStock);
    sqlite3_reset(insStock);
  }
  auto insertSent = [&](const SentCard& c) {
    text(insSent, 1, c.itemName);
    text(insSent, 2, c.orderNumber);
    text(insSent, 3, c.buyerNick);
    text(insSent, 4, "1");
    text(insSent, 5, c.cardNumber);
    text(insSent, 6, c.cardPassword);
    text(insSent, 7, std::string());
    text(insSent, 8, c.sentAt);
    sqlite3_step(insSent);
    sqlite3_reset(insSent);
  };
  for (int i = 0; i < n; ++i) insertSent(Sent(i));
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_stmt* sentExists = prepare("SELECT 1 FROM sent WHERE order_number = ? LIMIT 1");
  sqlite3_stmt* itemExists = prepare("SELECT 1 FROM items WHERE name = ? LIMIT 1");
  sqlite3_stmt* firstCard =
      prepare("SELECT id, number, password FROM stock WHERE item = ? ORDER BY id LIMIT 1");
  sqlite3_stmt* take = prepare("DELETE FROM stock WHERE id = ?");
  auto step = [](sqlite3_stmt* st) {
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    return rc;
  };
  int sq = n;
  auto sqliteOrder = [&] {
    const int i = sq++;
    const std::string item = ItemName(i);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    text(sentExists, 1, OrderNumber(i));
    if (step(sentExists) == SQLITE_ROW) std::abort();
    text(itemExists, 1, item);
    if (step(itemExists) != SQLITE_ROW) std::abort();
    sqlite3_int64 id = 0;
    for (int k = 0; k < 2; ++k) {
      text(firstCard, 1, item);
      if (sqlite3_step(firstCard) != SQLITE_ROW) std::abort();
      id = sqlite3_column_int64(firstCard, 0);
      sqlite3_reset(firstCard);
    }
    sqlite3_bind_int64(take, 1, id);
    step(take);
    insertSent(Sent(i));
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  };
  row.sqlite = bench::MedianMs(7, 100, [&] {
    for (int k = 0; k < 100; ++k) sqliteOrder();
  });
  for (sqlite3_stmt* st : {insItem, insStock, insSent, sentExists, itemExists, firstCard, take})
    sqlite3_finalize(st);
  sqlite3_close(db);
  return row;
}

}  // namespace
}  // namespace autodeliver

int main() {
  using autodeliver::Row;
  std::vector<Row> rows;
  std::printf("%7s %8s %8s %8s %8s %8s %8s | %8s %8s %8s | %8s %8s %8s %9s %9s %9s\n", "N", "first", "order",
              "ledger", "held", "full", "idle", "old frst", "old ordr", "old ledg", "mdb", "floor", "sqlite",
              "order/sql", "ledgr/sql", "held/sql");
  for (int n : {10, 1000, 10000, 100000}) {
    Row r = autodeliver::Measure(n);
    rows.push_back(r);
    std::printf(
        "%7d %8.3f %8.3f %8.3f %8.3f %8.3f %8.3f | %8.3f %8.3f %8.3f | %8.3f %8.3f %8.3f %9.2f %9.2f %9.2f\n",
        r.n, r.now.first, r.now.order, r.now.ledger, r.now.held, r.now.full, r.now.idle, r.old.first,
        r.old.order, r.old.ledger, r.mdb, r.floor, r.sqlite, r.now.order / r.sqlite, r.now.ledger / r.sqlite,
        r.now.held / r.sqlite);
    std::fflush(stdout);
  }
  const Row& lo = rows.front();
  const Row& hi = rows.back();
  std::printf("(milliseconds; old: the earlier layout, names and numbers as long texts)\n");
  std::printf("order at %d / order at %d: %.2f, ledger %.2f (goal <= 1.5)\n", hi.n, lo.n,
              hi.now.order / lo.now.order, hi.now.ledger / lo.now.ledger);
  std::printf("order / sqlite at %d: %.2f, ledger %.2f (goal <= 3)\n", hi.n, hi.now.order / hi.sqlite,
              hi.now.ledger / hi.sqlite);
  std::printf(
      "store work per order / SQLite WAL+NORMAL at %d: held %.2f, ledger (each operation opening its "
      "tables) %.2f (goal <= 2)\n",
      hi.n, hi.now.held / hi.sqlite, hi.now.ledger / hi.sqlite);
  std::printf("idle at %d: %.3f ms (goal <= 5)\n", hi.n, hi.now.idle);
  std::printf("mdb append at %d: %.3f ms (goal <= 1); %.2f page writes with flush; at %d / at %d: %.2f\n",
              hi.n, hi.mdb, hi.mdb / hi.floor, hi.n, lo.n, hi.mdb / lo.mdb);
  return 0;
}
