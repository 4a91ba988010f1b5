// What a durable delivered order costs, in one run on one file system:
//
//   ours          one-card orders as the cycle delivers them, in cycles of
//                 ten: the journal looked at before each cycle (the
//                 recovery's check), the tables held open for the session
//                 across its cycles (DeliveryTables), the sent and item checks
//                 of the cycle's orders in one hold, each order looked up
//                 again, its cards taken and recorded (DeliverCards) in one
//                 hold of its own, the handed and consigned steps; the journal
//                 applied to the tables and card.mdb when it holds more than
//                 its bound of orders, and by the idle cycle after the last
//                 order;
//   per-op        the same with every store operation opening, locking and
//                 closing its own tables (the delivery before the tables were
//                 held open), the reference for what holding them saves;
//   SQLite FULL   the same work in one transaction per order, WAL journal,
//                 synchronous=FULL: the sent check, the oldest card selected
//                 and deleted, the sent row and the card.mdb-like row
//                 inserted, one commit;
//   SQLite NORMAL the same at synchronous=NORMAL.
//
// The modes take turns over several rounds (a fresh folder each run), so
// that a shared disk's changing load falls on all of them alike; per mode
// it prints the median wall time per order over the rounds and its spread
// (least to greatest), and the flushes (fsync and fdatasync) and system
// calls per order, counted by strace -f -c over two runs of N and 2N orders
// (the difference divided by N, so that the set-up is left out). The
// durable-cost ratio is taken round by round (ours against SQLite FULL of
// the same round) and printed as the median and spread of those ratios.
//
// Usage: wal_bench [folder] [orders] [rounds]; the folder (default: the
// current one) must be on the disk whose cost is wanted (not a tmpfs).
// Internally the program runs itself as `wal_bench --one MODE FOLDER ORDERS`.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "bench_support.h"
#include "delivery/card_delivery.h"
#include "delivery/card_row_export.h"
#include "delivery/events.h"
#include "delivery/journal.h"
#include "delivery/recovery.h"
#include "store/delivery_step.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr int kStock = 1000;
constexpr int kCycle = 10;  // orders per cycle
using bench::Clock;
using bench::MsSince;

std::string Item() { return "游戏点卡"_gbk; }
std::string Number(int i) { return "CARD" + std::to_string(100000 + i); }
std::string Order(int i) { return "20121120" + std::to_string(100000000 + i); }

std::vector<ImportedCard> Cards(int orders) {
  std::vector<ImportedCard> cards;
  for (int i = 0; i < kStock + orders; ++i) cards.push_back({Number(i), "pw" + std::to_string(i)});
  return cards;
}

// Our delivery of `orders` one-card orders, with the tables held open for
// the session across its cycles (`held`) or opened by each store
// operation; milliseconds per order.
double Ours(const std::filesystem::path& dir, int orders, bool held) {
  ShopContext shop(dir.string());
  if (!bench::FreshShop(shop, dir, Item(), Cards(orders))) return -1;
  DeliveryJournal journal(shop);
  DeliveryEvents none;
  std::optional<DeliveryTables> tables;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < orders; ++i) {
    const std::string order = Order(i);
    bool delivered = false, monitored = true;
    if (i % kCycle == 0) DeliveryRecovery(journal, none).RecoverRecords(ApplyWhen::kWhenDue);
    if (held && i % kCycle == 0) {
      // The cycle's look at its listed orders, in one hold.
      if (!tables) tables.emplace(shop);
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
    if ((i + 1) % kCycle == 0 || i + 1 == orders)
      ApplyDeliveryJournal(journal, held ? &*tables : nullptr, ApplyWhen::kWhenDue);
  }
  // The idle cycle after the last order brings everything to the disk.
  DeliveryRecovery(journal, none).RecoverRecords(ApplyWhen::kWhenDue);
  if (!tables) tables.emplace(shop);
  if (!ApplyDeliveryJournal(journal, held ? &*tables : nullptr, ApplyWhen::kNow)) return -1;
  if (!journal.Entries().empty()) return -1;
  return MsSince(start) / orders;
}

double Sqlite(const std::filesystem::path& dir, int orders, bool full) {
  const std::unique_ptr<bench::SqliteDb> db = bench::FreshSqliteShop(
      dir, "WAL", full ? "FULL" : "NORMAL",
      "CREATE INDEX stock_item ON stock(item); CREATE INDEX sent_order ON sent(orderno);"
      "CREATE TABLE biao(dingdan TEXT, kahao TEXT, mima TEXT);",
      Item(), Cards(orders));
  using bench::SqliteDb;
  sqlite3_stmt* check = db->Prepare("SELECT 1 FROM sent WHERE orderno=? LIMIT 1");
  sqlite3_stmt* pick =
      db->Prepare("SELECT rowid, number, password FROM stock WHERE item=? ORDER BY rowid LIMIT 1");
  sqlite3_stmt* drop = db->Prepare("DELETE FROM stock WHERE rowid=?");
  sqlite3_stmt* record = db->Prepare("INSERT INTO sent VALUES(?,?,'buyer','1',?,?,'',?)");
  sqlite3_stmt* mdb = db->Prepare("INSERT INTO biao VALUES(?,?,?)");
  const std::string item = Item();
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < orders; ++i) {
    const std::string order = Order(i), at = "2012-11-20 09:05";
    db->Exec("BEGIN IMMEDIATE");
    SqliteDb::Text(check, 1, order);
    if (SqliteDb::Step(check) == SQLITE_ROW) return -1;
    SqliteDb::Text(pick, 1, item);
    if (sqlite3_step(pick) != SQLITE_ROW) return -1;
    const sqlite3_int64 rowid = sqlite3_column_int64(pick, 0);
    const std::string number = reinterpret_cast<const char*>(sqlite3_column_text(pick, 1));
    const std::string password = reinterpret_cast<const char*>(sqlite3_column_text(pick, 2));
    sqlite3_reset(pick);
    sqlite3_bind_int64(drop, 1, rowid);
    SqliteDb::Step(drop);
    SqliteDb::Text(record, 1, item);
    SqliteDb::Text(record, 2, order);
    SqliteDb::Text(record, 3, number);
    SqliteDb::Text(record, 4, password);
    SqliteDb::Text(record, 5, at);
    SqliteDb::Step(record);
    SqliteDb::Text(mdb, 1, order);
    SqliteDb::Text(mdb, 2, number);
    SqliteDb::Text(mdb, 3, password);
    SqliteDb::Step(mdb);
    if (!db->Exec("COMMIT")) return -1;
  }
  return MsSince(start) / orders;
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
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
  std::filesystem::create_directories(base);
  const char* modes[] = {"ours", "per-op", "sqlite-full", "sqlite-normal"};
  std::vector<std::function<double()>> works;
  for (const char* mode : modes) works.push_back([&, mode] { return RunMode(mode, base / mode, orders); });
  const std::vector<std::vector<double>> times = bench::Interleaved(rounds, works);
  struct Counts {
    double syncs = -1, calls = -1;
  };
  std::vector<Counts> counts;
  for (const char* mode : modes) {
    Calls once, twice;
    Counts c;
    if (Traced(argv[0], mode, base / mode, orders, &once) &&
        Traced(argv[0], mode, base / mode, 2 * orders, &twice)) {
      c.syncs = static_cast<double>(twice.syncs - once.syncs) / orders;
      c.calls = static_cast<double>(twice.total - once.total) / orders;
    }
    counts.push_back(c);
  }
  std::filesystem::remove_all(base);
  std::printf("one-card orders, %d per run, cycles of %d, stock of %d cards, %d rounds (modes in turn)\n",
              orders, kCycle, kStock, rounds);
  std::printf("  %-14s %10s %19s %8s %10s\n", "", "ms/order", "(least - greatest)", "syncs", "syscalls");
  for (std::size_t m = 0; m < std::size(modes); ++m) {
    const bench::Spread t = bench::SpreadOf(times[m]);
    std::printf("  %-14s %10.3f   (%6.3f - %6.3f) %8.2f %10.1f\n", modes[m], t.median, t.low, t.high,
                counts[m].syncs, counts[m].calls);
  }
  const bench::Spread ours = bench::SpreadOf(bench::Ratios(times[0], times[2]));
  const bench::Spread perOp = bench::SpreadOf(bench::Ratios(times[1], times[2]));
  std::printf(
      "durable cost, ours / SQLite WAL+FULL, per round: median x%.2f (least x%.2f, greatest x%.2f; per-op "
      "x%.2f), goal <= 1.5\n",
      ours.median, ours.low, ours.high, perOp.median);
  bench::PrintRatio("durable cost ours/sqlite-full (median of rounds)", ours.median, 1.0);
  std::printf("syscalls,     ours / SQLite WAL+FULL:    x%.2f (per-op x%.2f, goal <= 2)\n",
              counts[0].calls / counts[2].calls, counts[1].calls / counts[2].calls);
  std::printf("syncs,        ours / SQLite WAL+FULL:    x%.2f (%.2f against %.2f per order)\n",
              counts[0].syncs / counts[2].syncs, counts[0].syncs, counts[2].syncs);
  return 0;
}
