// What the benchmarks share: a clock and its figures in milliseconds, the
// median of timed rounds, works run in turn over rounds with the median and
// spread of their figures, a temporary folder removed at the end, a fresh
// shop folder and its SQLite counterpart, and the line that prints a figure
// against the reference measured in the same run.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "export/jet4/jet4_file.h"
#include "store/item_table.h"
#include "store/rows.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"

namespace autodeliver::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline double MsSince(Clock::time_point start) { return Ms(Clock::now() - start); }

// The middle value (the upper one of an even count); 0 for none.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The median time in milliseconds of `rounds` runs of `work`, each run's
// time divided by `per` (the units of work one run does).
inline double MedianMs(int rounds, int per, const std::function<void()>& work) {
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    const Clock::time_point start = Clock::now();
    work();
    times.push_back(MsSince(start) / per);
  }
  return Median(std::move(times));
}

// The median of a set of figures and their least and greatest.
struct Spread {
  double median = 0, low = 0, high = 0;
};

inline Spread SpreadOf(std::vector<double> values) {
  if (values.empty()) return {};
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

// Runs every work of `works` once per round, in turn, the first of them
// moving on by one each round, so that each meets the disk and the machine
// in the same states as the others (a shared disk's load comes and goes
// over seconds). Each work returns its figure (negative: it failed, and the
// benchmark ends). The figures of work k are result[k], one per round.
inline std::vector<std::vector<double>> Interleaved(int rounds,
                                                    const std::vector<std::function<double()>>& works) {
  std::vector<std::vector<double>> figures(works.size());
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t i = 0; i < works.size(); ++i) {
      const std::size_t k = (i + static_cast<std::size_t>(r)) % works.size();
      const double figure = works[k]();
      if (figure < 0) {
        std::fprintf(stderr, "work %zu failed in round %d\n", k, r);
        std::exit(1);
      }
      figures[k].push_back(figure);
    }
  }
  return figures;
}

// The figure-by-figure ratios of two works measured in the same rounds.
inline std::vector<double> Ratios(const std::vector<double>& figures, const std::vector<double>& references) {
  std::vector<double> out;
  for (std::size_t i = 0; i < figures.size() && i < references.size(); ++i)
    out.push_back(references[i] > 0 ? figures[i] / references[i] : 0.0);
  return out;
}

// An empty folder at `dir` (what stood there removed).
inline void FreshFolder(const std::filesystem::path& dir) {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  std::filesystem::create_directories(dir);
}

// A fresh program folder at `dir`, the folder of `shop`: the data tables, an
// empty card.mdb, `item` monitored and `cards` in its stock. False when any
// of it cannot be made.
inline bool FreshShop(ShopContext& shop, const std::filesystem::path& dir, const std::string& item,
                      const std::vector<ImportedCard>& cards) {
  FreshFolder(dir);
  std::string error;
  if (!CreateDataTables(dir.string(), &error)) return false;
  if (!CreateCardDatabase((dir / "card.mdb").string())) return false;
  MonitoredItem monitored;
  monitored.name = item;
  if (!AppendItem(shop, monitored)) return false;
  return AppendStockCards(shop, item, cards) == cards.size();
}

// An SQLite database for the reference figures: the statements prepared
// through it are finalized with it.
class SqliteDb {
 public:
  explicit SqliteDb(const std::filesystem::path& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite3_open %s failed\n", file.c_str());
      std::exit(1);
    }
  }
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;
  ~SqliteDb() {
    for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
    sqlite3_close(db_);
  }
  bool Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "cannot prepare %s\n", sql);
      std::exit(1);
    }
    statements_.push_back(s);
    return s;
  }
  static void Text(sqlite3_stmt* s, int k, const std::string& text) {
    sqlite3_bind_text(s, k, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  // Steps once and resets; the step's result.
  static int Step(sqlite3_stmt* s) {
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    return rc;
  }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

// The shop's stock and sent cards as SQLite tables (stock(item, number,
// password) and sent(item, orderno, buyer, quantity, number, password,
// remark, sentat), plus `moreSchema`), in a fresh folder `dir`, with
// `journalMode` and `synchronous` set and `cards` of `item` in the stock,
// inserted in one transaction.
inline std::unique_ptr<SqliteDb> FreshSqliteShop(const std::filesystem::path& dir,
                                                 const std::string& journalMode,
                                                 const std::string& synchronous,
                                                 const std::string& moreSchema, const std::string& item,
                                                 const std::vector<ImportedCard>& cards) {
  FreshFolder(dir);
  auto db = std::make_unique<SqliteDb>(dir / "store.db");
  if (!db->Exec("PRAGMA journal_mode=" + journalMode + "; PRAGMA synchronous=" + synchronous +
                ";"
                "CREATE TABLE stock(item TEXT, number TEXT, password TEXT);"
                "CREATE TABLE sent(item TEXT, orderno TEXT, buyer TEXT, quantity TEXT, number TEXT,"
                " password TEXT, remark TEXT, sentat TEXT);" +
                moreSchema)) {
    std::fprintf(stderr, "cannot lay out the SQLite shop\n");
    std::exit(1);
  }
  db->Exec("BEGIN");
  sqlite3_stmt* add = db->Prepare("INSERT INTO stock VALUES(?,?,?)");
  for (const ImportedCard& card : cards) {
    SqliteDb::Text(add, 1, item);
    SqliteDb::Text(add, 2, card.cardNumber);
    SqliteDb::Text(add, 3, card.cardPassword);
    SqliteDb::Step(add);
  }
  db->Exec("COMMIT");
  return db;
}

// A fresh folder under the system's temporary folder; the benchmark ends
// when it cannot be made. Removed with its contents when the object goes.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "autodeliver-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(2);
    }
    path_ = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// "ratio <what>: <figure / reference>", the reference measured in the same
// run on the same machine.
inline void PrintRatio(const char* what, double figure, double reference) {
  std::printf("ratio %s: %.2f\n", what, reference > 0 ? figure / reference : 0.0);
}

}  // namespace autodeliver::bench
