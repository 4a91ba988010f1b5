// Figures for the search over the sent-cards grid at 100,000 delivered
// cards, keystroke by keystroke, as the seller types (goal: every keystroke
// within 50 ms, from the key to the repainted grid):
//
//   - the core search (store/sent_search.h): a fresh search per keystroke,
//     and the narrowing search the page does while the seller types on;
//   - the whole page: the search box's text changes, the page searches,
//     the grid's proxy is reset, the grid repaints (offscreen);
//   - the reference, measured in the same run: SQLite answering the same
//     single-word queries on the same rows with LIKE '%word%' over the four
//     columns, in memory.
//
// Each typed sequence reports the mean and the slowest keystroke in ms;
// the core and page figures also as a ratio to SQLite's mean.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "pages/sent_cards_page.h"
#include "store/item_table.h"
#include "store/sent_search.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr int kRows = 100000;
using bench::Clock;

using bench::Ms;

// A busy shop's 100,000 delivered cards: 30 items, 8,000 buyers, orders of
// one to three cards with 19-digit numbers, 14-character card numbers.
std::vector<SentCard> Shop() {
  const char* words[] = {"腾讯", "QQ币", "网易", "一卡通",   "点卡",
                         "月卡", "游戏", "充值", "自动发货", "秒到"};
  const char* nickParts[] = {"tb_", "小王", "快乐", "星球", "买家", "Alice", "bob", "猫", "88", "2024"};
  unsigned seed = 12345;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  std::vector<std::string> items, nicks;
  for (int i = 0; i < 30; ++i)
    items.push_back(Utf8ToGbkLossy(std::string(words[next(10)]) + words[next(10)] + " " +
                                   std::to_string(10 * (i + 1)) + "元"));
  for (int i = 0; i < 8000; ++i)
    nicks.push_back(
        Utf8ToGbkLossy(std::string(nickParts[next(10)]) + nickParts[next(10)] + std::to_string(i)));
  std::vector<SentCard> cards;
  cards.reserve(kRows);
  long long order = 3718264500000000000LL;
  while (static_cast<int>(cards.size()) < kRows) {
    const std::string number = std::to_string(order);
    order += 1 + next(9000);
    const int quantity = 1 + static_cast<int>(next(3));
    const std::string& item = items[next(30)];
    const std::string& nick = nicks[next(8000)];
    for (int c = 0; c < quantity && static_cast<int>(cards.size()) < kRows; ++c) {
      char card[32];
      std::snprintf(card, sizeof card, "KM%012u", next(1000000000));
      cards.push_back({item, number, nick, quantity, card, "PW" + std::to_string(next(100000)), "",
                       "2024年5月1日9时5分"_gbk});
    }
  }
  return cards;
}

const std::vector<SentCard>& Cards() {
  static const std::vector<SentCard> cards = Shop();
  return cards;
}

// What the seller types, key by key: the query after each keystroke (GBK).
struct Typing {
  const char* name;
  std::vector<std::string> steps;
};

std::vector<Typing> Typings() {
  const SentCard& some = Cards()[kRows / 2];
  std::vector<Typing> typings;
  Typing order{"order number", {}};
  for (std::size_t i = 1; i <= some.orderNumber.size(); ++i)
    order.steps.push_back(some.orderNumber.substr(0, i));
  typings.push_back(order);
  Typing card{"card number", {}};
  for (std::size_t i = 1; i <= some.cardNumber.size(); ++i)
    card.steps.push_back(AsciiLower(some.cardNumber.substr(0, i)));
  typings.push_back(card);
  // A nick as an input method hands it over: one character at a time.
  Typing nick{"buyer nick", {}};
  const std::string utf8 = GbkToUtf8Lossy(some.buyerNick);
  for (std::size_t i = 1; i <= utf8.size(); ++i) {
    if (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
    nick.steps.push_back(Utf8ToGbkLossy(utf8.substr(0, i)));
  }
  typings.push_back(nick);
  // The seller deletes an order number key by key: every step widens.
  Typing erase{"backspace", {}};
  for (auto it = order.steps.rbegin(); it != order.steps.rend(); ++it) erase.steps.push_back(*it);
  typings.push_back(erase);
  return typings;
}

struct Figures {
  double mean = 0, slowest = 0;
  std::size_t lastMatches = 0;
};

template <typename Step>
Figures Run(const Typing& typing, const Step& step) {
  Figures f;
  double sum = 0;
  for (std::size_t i = 0; i < typing.steps.size(); ++i) {
    const Clock::time_point start = Clock::now();
    f.lastMatches = step(i, typing.steps[i]);
    const double ms = Ms(Clock::now() - start);
    sum += ms;
    f.slowest = std::max(f.slowest, ms);
  }
  f.mean = sum / static_cast<double>(typing.steps.size());
  return f;
}

void Report(benchmark::State& state, const Figures& f, double referenceMean) {
  state.counters["mean_ms"] = f.mean;
  state.counters["slowest_ms"] = f.slowest;
  state.counters["matches"] = static_cast<double>(f.lastMatches);
  if (referenceMean > 0) state.counters["x_sqlite"] = f.mean / referenceMean;
}

// ---- the reference: SQLite, in memory

struct Sqlite {
  sqlite3* db = nullptr;
  sqlite3_stmt* query = nullptr;
  Sqlite() {
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE sent(item TEXT, order_no TEXT, buyer TEXT, card TEXT)", nullptr, nullptr,
                 nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO sent VALUES(?,?,?,?)", -1, &insert, nullptr);
    for (const SentCard& c : Cards()) {
      const std::string values[] = {GbkToUtf8Lossy(c.itemName), c.orderNumber, GbkToUtf8Lossy(c.buyerNick),
                                    c.cardNumber};
      for (int i = 0; i < 4; ++i) sqlite3_bind_text(insert, i + 1, values[i].c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(
        db,
        "SELECT rowid FROM sent WHERE item LIKE ?1 OR order_no LIKE ?1 OR buyer LIKE ?1 OR card "
        "LIKE ?1",
        -1, &query, nullptr);
  }
  ~Sqlite() {
    sqlite3_finalize(query);
    sqlite3_close(db);
  }
  std::size_t Find(const std::string& gbkWord) {
    const std::string pattern = "%" + GbkToUtf8Lossy(gbkWord) + "%";
    sqlite3_bind_text(query, 1, pattern.c_str(), -1, SQLITE_TRANSIENT);
    std::size_t n = 0;
    while (sqlite3_step(query) == SQLITE_ROW) ++n;
    sqlite3_reset(query);
    return n;
  }
};

Sqlite& Reference() {
  static Sqlite sqlite;
  return sqlite;
}

std::vector<double>& ReferenceMeans() {
  static std::vector<double> means(Typings().size(), 0.0);
  return means;
}

void BM_SqliteLikePerKeystroke(benchmark::State& state) {
  const Typing typing = Typings()[static_cast<std::size_t>(state.range(0))];
  Figures f;
  for (auto _ : state) f = Run(typing, [](std::size_t, const std::string& q) { return Reference().Find(q); });
  ReferenceMeans()[static_cast<std::size_t>(state.range(0))] = f.mean;
  state.SetLabel(typing.name);
  Report(state, f, 0);
}

// ---- the core search

void BM_CoreFreshSearchPerKeystroke(benchmark::State& state) {
  const Typing typing = Typings()[static_cast<std::size_t>(state.range(0))];
  const SentCardIndex index(Cards());
  Figures f;
  for (auto _ : state)
    f = Run(typing, [&](std::size_t, const std::string& q) { return index.Find(q).size(); });
  state.SetLabel(typing.name);
  Report(state, f, ReferenceMeans()[static_cast<std::size_t>(state.range(0))]);
}

void BM_CoreNarrowingSearchPerKeystroke(benchmark::State& state) {
  const Typing typing = Typings()[static_cast<std::size_t>(state.range(0))];
  const SentCardIndex index(Cards());
  Figures f;
  for (auto _ : state) {
    std::vector<int> rows = index.Find("");
    std::string last;
    f = Run(typing, [&](std::size_t, const std::string& q) {
      rows = NarrowsQuery(last, q) ? index.FindAmong(q, rows) : index.Find(q);
      last = q;
      return rows.size();
    });
  }
  state.SetLabel(typing.name);
  Report(state, f, ReferenceMeans()[static_cast<std::size_t>(state.range(0))]);
}

void BM_BuildIndex(benchmark::State& state) {
  for (auto _ : state) {
    SentCardIndex index(Cards());
    benchmark::DoNotOptimize(index.size());
  }
}

// ---- the whole page

struct PageRig {
  QTemporaryDir dir;
  ShopContext shop{dir.path().toStdString()};
  QWidget root;
  QTableView* grid = new QTableView(&root);
  QLineEdit* search = new QLineEdit(&root);
  QLabel* count = new QLabel(&root);
  std::unique_ptr<SentCardsPage> page;

  PageRig() {
    CreateDataTables(dir.path().toStdString());
    // The table written in one access.
    RecordTable table;
    if (table.Open(shop.SentTablePath()) && table.Hold(true)) {
      for (const SentCard& c : Cards()) {
        table.Append({c.itemName, c.orderNumber, c.buyerNick, std::to_string(c.quantity), c.cardNumber,
                      c.cardPassword, c.remark, c.sentAt});
      }
      table.Release();
    }
    table.Close();
    root.resize(800, 420);
    grid->setGeometry(0, 30, 800, 384);
    search->setGeometry(0, 0, 260, 22);
    count->setGeometry(270, 0, 200, 22);
    SentCardsPageControls controls;
    controls.grid = grid;
    controls.searchBox = search;
    controls.countLabel = count;
    page = std::make_unique<SentCardsPage>(shop, controls);
    page->FillSentCardsGrid();
    root.show();
  }
  ~PageRig() { page.reset(); }
};

void BM_PagePerKeystroke(benchmark::State& state) {
  const Typing typing = Typings()[static_cast<std::size_t>(state.range(0))];
  static PageRig* rig = new PageRig;  // built once, for every typing
  rig->search->clear();
  if (rig->page->shownRowCount() != kRows) {
    state.SkipWithError("the grid does not show every row");
    return;
  }
  Figures f;
  for (auto _ : state) {
    rig->search->clear();
    // The steps as texts of the box (UTF-8); backspace starts from the full
    // text already in the box.
    f = Run(typing, [&](std::size_t, const std::string& q) {
      rig->search->setText(QString::fromStdString(GbkToUtf8Lossy(q)));
      rig->grid->repaint();
      return static_cast<std::size_t>(rig->page->shownRowCount());
    });
  }
  state.SetLabel(typing.name);
  Report(state, f, ReferenceMeans()[static_cast<std::size_t>(state.range(0))]);
}

void Typed(benchmark::internal::Benchmark* b) {
  for (std::size_t i = 0; i < Typings().size(); ++i) b->Arg(static_cast<int>(i));
  b->Unit(benchmark::kMillisecond)->Iterations(3);
}

// The reference first: the other figures are given as ratios to it.
BENCHMARK(BM_SqliteLikePerKeystroke)->Apply(Typed);
BENCHMARK(BM_CoreFreshSearchPerKeystroke)->Apply(Typed);
BENCHMARK(BM_CoreNarrowingSearchPerKeystroke)->Apply(Typed);
BENCHMARK(BM_PagePerKeystroke)->Apply(Typed);
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
