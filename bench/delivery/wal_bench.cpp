// What a durable delivered order costs, in one run on one file system:
//
//   ours          one one-card order as the cycle delivers it: the tables
//                 held open for the cycle (DeliveryTables), the sent and item
//                 checks of the cycle's orders in one hold, each order looked
//                 up again, its cards taken and recorded (DeliverCards) in
//                 one hold of its own, the handed and consigned steps,
//                 and the journal applied to the tables and card.mdb once per
//                 cycle of ten orders;
//   per-op        the same with every store operation opening, locking and
//                 closing its own tables (the delivery before the tables were
//                 held open), the reference for what holding them saves;
//   SQLite FULL   the same work in one transaction per order, WAL journal,
//                 synchronous=FULL: the sent check, the oldest card selected
//                 and deleted, the sent row and the card.mdb-like row
//                 inserted, one commit;
//   SQLite NORMAL the same at synchronous=NORMAL.
//
// Per order it prints the wall time, the flushes (fsync and fdatasync) and
// the system calls, the last two counted by strace -f -c over two runs of
// N and 2N orders (the difference divided by N, so that the set-up is left
// out), and the ratios against SQLite.
//
// Usage: wal_bench [folder] [orders]; the folder (default: the current one)
// must be on the disk whose cost is wanted (not a tmpfs). Internally the
// program runs itself as `wal_bench --one MODE FOLDER ORDERS`.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "delivery/card_delivery.h"
#include "delivery/card_row_export.h"
#include "delivery/journal.h"
#include "export/jet4/jet4_file.h"
#include "store/delivery_step.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr int kStock = 1000;
constexpr int kCycle = 10;  // orders per cycle
using Clock = std::chrono::steady_clock;

std::string Item() { return "游戏点卡"_gbk; }
std::string Number(int i) { return "CARD" + std::to_string(100000 + i); }
std::string Order(int i) { return "20121120" + std::to_string(100000000 + i); }

bool FreshStore(ShopContext& shop, const std::filesystem::path& dir, int orders) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::string error;
  if (!CreateDataTables(dir.string(), &error)) return false;
  if (!CreateCardDatabase((dir / "card.mdb").string())) return false;
  MonitoredItem item;
  item.name = Item();
  if (!AppendItem(shop, item)) return false;
  std::vector<ImportedCard> cards;
  for (int i = 0; i < kStock + orders; ++i) cards.push_back({Number(i), "pw" + std::to_string(i)});
  return AppendStockCards(shop, Item(), cards) == cards.size();
}

// Our delivery of `orders` one-card orders, with the tables held open for
// each cycle (`held`) or opened by each store operation; milliseconds per
// order.
double Ours(const std::filesystem::path& dir, int orders, bool held) {
  ShopContext shop(dir.string());
  if (!FreshStore(shop, dir, orders)) return -1;
  DeliveryJournal journal(shop);
  std::optional<DeliveryTables> tables;
  const auto start = Clock::now();
  for (int i = 0; i < orders; ++i) {
    const std::string order = Order(i);
    bool delivered = false, monitored = true;
    if (held && i % kCycle == 0) {
      // The cycle's look at its listed orders, in one hold.
      tables.emplace(shop);
      DeliveryTables::Hold hold(*tables);
      for (int k = i; k < std::min(i + kCycle, orders); ++k) {
        delivered = delivered || tables->SentCardExists(Order(k));
        monitored = monitored && tables->ItemExists(Item());
      }
    } else if (!held) {
      delivered = SentCardExists(shop, order);
      monitored = ItemExists(shop, Item());
    }
    if (delivered || !monitored) return -1;
    const CardDelivery delivery = held ? DeliverCards(journal, *tables, order, Item(), "buyer", "", 1)
                                       : DeliverCards(journal, order, Item(), "buyer", "", 1);
    if (!delivery.message) return -1;
    journal.Handed(order);
    journal.Consigned(order);
    if ((i + 1) % kCycle == 0 || i + 1 == orders) ApplyDeliveryJournal(journal, held ? &*tables : nullptr);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / orders;
}

double Sqlite(const std::filesystem::path& dir, int orders, bool full) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  sqlite3* db = nullptr;
  if (sqlite3_open((dir / "store.db").c_str(), &db) != SQLITE_OK) return -1;
  const std::string setup = std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=") +
                            (full ? "FULL" : "NORMAL") +
                            ";"
                            "CREATE TABLE stock(item TEXT, number TEXT, password TEXT);"
                            "CREATE INDEX stock_item ON stock(item);"
                            "CREATE TABLE sent(item TEXT, orderno TEXT, buyer TEXT, quantity TEXT,"
                            " number TEXT, password TEXT, remark TEXT, sentat TEXT);"
                            "CREATE INDEX sent_order ON sent(orderno);"
                            "CREATE TABLE biao(dingdan TEXT, kahao TEXT, mima TEXT);";
  if (sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return -1;
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* add = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO stock VALUES(?,?,?)", -1, &add, nullptr);
  const std::string item = Item();
  for (int i = 0; i < kStock + orders; ++i) {
    const std::string number = Number(i), password = "pw" + std::to_string(i);
    sqlite3_bind_text(add, 1, item.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(add, 2, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(add, 3, password.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(add);
    sqlite3_reset(add);
  }
  sqlite3_finalize(add);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_stmt *check = nullptr, *pick = nullptr, *drop = nullptr, *record = nullptr, *mdb = nullptr;
  sqlite3_prepare_v2(db, "SELECT 1 FROM sent WHERE orderno=? LIMIT 1", -1, &check, nullptr);
  sqlite3_prepare_v2(db, "SELECT rowid, number, password FROM stock WHERE item=? ORDER BY rowid LIMIT 1", -1,
                     &pick, nullptr);
  sqlite3_prepare_v2(db, "DELETE FROM stock WHERE rowid=?", -1, &drop, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO sent VALUES(?,?,'buyer','1',?,?,'',?)", -1, &record, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO biao VALUES(?,?,?)", -1, &mdb, nullptr);
  const auto start = Clock::now();
  for (int i = 0; i < orders; ++i) {
    const std::string order = Order(i), at = "2012-11-20 09:05";
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_bind_text(check, 1, order.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(check) == SQLITE_ROW) return -1;
    sqlite3_reset(check);
    sqlite3_bind_text(pick, 1, item.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(pick) != SQLITE_ROW) return -1;
    const sqlite3_int64 rowid = sqlite3_column_int64(pick, 0);
    const std::string number = reinterpret_cast<const char*>(sqlite3_column_text(pick, 1));
    const std::string password = reinterpret_cast<const char*>(sqlite3_column_text(pick, 2));
    sqlite3_reset(pick);
    sqlite3_bind_int64(drop, 1, rowid);
    sqlite3_step(drop);
    sqlite3_reset(drop);
    sqlite3_bind_text(record, 1, item.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(record, 2, order.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(record, 3, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(record, 4, password.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(record, 5, at.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(record);
    sqlite3_reset(record);
    sqlite3_bind_text(mdb, 1, order.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(mdb, 2, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(mdb, 3, password.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(mdb);
    sqlite3_reset(mdb);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return -1;
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / orders;
  for (sqlite3_stmt* s : {check, pick, drop, record, mdb}) sqlite3_finalize(s);
  sqlite3_close(db);
  return ms;
}

double RunMode(const std::string& mode, const std::filesystem::path& dir, int orders) {
  if (mode == "ours") return Ours(dir, orders, true);
  if (mode == "per-op") return Ours(dir, orders, false);
  if (mode == "sqlite-full") return Sqlite(dir, orders, true);
  if (mode == "sqlite-normal") return Sqlite(dir, orders, false);
  return -1;
}

struct Calls {
  long total = 0;
  long syncs = 0;  // fsync + fdatasync
};

// The system calls of `wal_bench --one mode dir orders`, counted by strace.
bool Traced(const char* self, const std::string& mode, const std::filesystem::path& dir, int orders,
            Calls* out) {
  const std::string report = (dir.parent_path() / (mode + ".strace")).string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string n = std::to_string(orders), d = dir.string();
    ::execlp("strace", "strace", "-f", "-c", "-o", report.c_str(), self, "--one", mode.c_str(), d.c_str(),
             n.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  std::ifstream in(report);
  std::string line;
  *out = Calls{};
  while (std::getline(in, line)) {
    // "% time  seconds  usecs/call  calls  errors  syscall"; errors may be empty.
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.size() < 5 || w[0].find('.') == std::string::npos) continue;
    const std::string name = w.back();
    const long calls = std::atol(w[3].c_str());
    if (name == "total") {
      out->total = calls;
    } else if (name == "fsync" || name == "fdatasync") {
      out->syncs += calls;
    }
  }
  std::filesystem::remove(report);
  return out->total > 0;
}

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  using namespace autodeliver;
  if (argc == 5 && std::string(argv[1]) == "--one")
    return RunMode(argv[2], argv[3], std::atoi(argv[4])) < 0 ? 1 : 0;
  const std::filesystem::path base =
      std::filesystem::path(argc > 1 ? argv[1] : ".") / ("wal_bench_" + std::to_string(getpid()));
  const int orders = argc > 2 ? std::atoi(argv[2]) : 100;
  std::filesystem::create_directories(base);
  struct Figures {
    const char* mode;
    double ms = -1;
    double syncs = -1, calls = -1;
  } rows[] = {{"ours"}, {"per-op"}, {"sqlite-full"}, {"sqlite-normal"}};
  bool ok = true;
  for (Figures& row : rows) {
    row.ms = RunMode(row.mode, base / row.mode, orders);
    Calls once, twice;
    if (Traced(argv[0], row.mode, base / row.mode, orders, &once) &&
        Traced(argv[0], row.mode, base / row.mode, 2 * orders, &twice)) {
      row.syncs = static_cast<double>(twice.syncs - once.syncs) / orders;
      row.calls = static_cast<double>(twice.total - once.total) / orders;
    }
    ok = ok && row.ms >= 0;
  }
  std::filesystem::remove_all(base);
  std::printf("one-card orders, %d per run, cycles of %d, stock of %d cards\n", orders, kCycle, kStock);
  std::printf("  %-14s %10s %10s %10s\n", "", "ms/order", "syncs", "syscalls");
  for (const Figures& row : rows)
    std::printf("  %-14s %10.3f %10.2f %10.1f\n", row.mode, row.ms, row.syncs, row.calls);
  const Figures &ours = rows[0], &perOp = rows[1], &full = rows[2];
  std::printf("durable cost, ours / SQLite WAL+FULL:    x%.2f (per-op x%.2f, goal <= 1.5)\n",
              ours.ms / full.ms, perOp.ms / full.ms);
  std::printf("syscalls,     ours / SQLite WAL+FULL:    x%.2f (per-op x%.2f, goal <= 2)\n",
              ours.calls / full.calls, perOp.calls / full.calls);
  std::printf("syncs,        ours / SQLite WAL+FULL:    x%.2f\n", ours.syncs / full.syncs);
  return ok ? 0 : 1;
}
