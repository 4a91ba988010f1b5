// Figures for the management pages at a busy shop's scale: the import of
// 100,000 pasted card lines (the lines read alone, and the whole import:
// the check, the preview, the writes and the refill), the refill of the
// stock list and of the sent-cards grid from 100,000 records, each followed
// by a repaint of the view, and the refill of the items list with its stock figures for
// 1,000 items and 1,000,000 cards (the time on the window's thread, and the
// time until the figures show). Runs offscreen on a temporary program
// directory.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench_support.h"
#include "import/card_lines.h"
#include "pages/import_preview_dialog.h"
#include "pages/items_page.h"
#include "pages/sent_cards_page.h"
#include "pages/stock_page.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "store/warning_levels.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr int kRecords = 100000;

// The pages ask nothing of the person in these runs.
class QuietPrompts : public Prompts {
 public:
  BoxAnswer ShowBox(const std::string&, const std::string&, BoxKind) override { return BoxAnswer::kOk; }
  void OpenPage(const std::string&) override {}
  void EndProgram(int) override {}
};

// The two pages the figures are about, on widgets of their own.
struct Rig {
  QTemporaryDir dir;
  ShopContext shop{dir.path().toStdString()};
  QuietPrompts prompts;
  QWidget root;
  QComboBox* chooser;
  QPlainTextEdit* importBox;
  QTreeView* stockList;
  QTableView* sentGrid;
  std::unique_ptr<StockPage> stock;
  std::unique_ptr<SentCardsPage> sentCards;

  Rig() {
    CreateDataTables(dir.path().toStdString());
    root.resize(900, 700);
    chooser = new QComboBox(&root);
    importBox = new QPlainTextEdit(&root);
    stockList = new QTreeView(&root);
    sentGrid = new QTableView(&root);
    stockList->setGeometry(0, 0, 450, 320);
    sentGrid->setGeometry(450, 0, 450, 384);
    stock = std::make_unique<StockPage>(
        shop,
        StockPageControls{chooser, importBox, new QPushButton(&root), new QPushButton(&root), stockList,
                          new QPushButton(&root)},
        prompts);
    sentCards = std::make_unique<SentCardsPage>(shop, SentCardsPageControls{sentGrid});
    AppendItem(shop, {"A", "", 0, true});
    stock->FillItemChooser();
    chooser->setCurrentIndex(0);
    root.show();
  }
  ~Rig() {
    stock.reset();
    sentCards.reset();
  }
};

QString PastedLines(int n) {
  QString text;
  text.reserve(n * 16);
  for (int i = 0; i < n; ++i) text += QStringLiteral("N%1 P%1\n").arg(i, 6, 10, QLatin1Char('0'));
  return text;
}

void BM_ReadCardLines(benchmark::State& state) {
  const std::string text = WithCrLfLineEnds(PastedLines(static_cast<int>(state.range(0))).toStdString());
  for (auto _ : state) {
    std::vector<CardLine> lines = ReadCardLines(text);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadCardLines)->Arg(kRecords)->Unit(benchmark::kMillisecond);

// Paste, "增加入库", "导入" in the preview as soon as it shows, wait for the
// end of the import (cards written, stock list refilled, box reset), on a
// fresh stock table each time.
void BM_ImportPastedLines(benchmark::State& state) {
  const QString text = PastedLines(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    auto rig = std::make_unique<Rig>();
    rig->importBox->setPlainText(text);
    state.ResumeTiming();
    rig->stock->ImportCards();
    while (rig->stock->importRunning()) {
      if (ImportPreviewDialog* preview = rig->stock->preview()) preview->accept();
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    state.PauseTiming();
    if (rig->stockList->model()->rowCount() != state.range(0)) state.SkipWithError("cards missing");
    rig.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ImportPastedLines)->Arg(kRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FillStockList(benchmark::State& state) {
  Rig rig;
  for (int i = 0; i < state.range(0); ++i) AppendStockCard(rig.shop, {"A", "N" + std::to_string(i), "P", 0});
  for (auto _ : state) {
    rig.stock->FillStockList();
    rig.stockList->repaint();
  }
  if (rig.stockList->model()->rowCount() != state.range(0)) state.SkipWithError("rows missing");
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillStockList)->Arg(kRecords)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FillSentCardsGrid(benchmark::State& state) {
  Rig rig;
  for (int i = 0; i < state.range(0); ++i) {
    AppendSentCard(rig.shop,
                   {"A", "T" + std::to_string(i / 2), "buyer", 2, "N" + std::to_string(i), "P", "", "2012"});
  }
  for (auto _ : state) {
    rig.sentCards->FillSentCardsGrid();
    rig.sentGrid->repaint();
  }
  if (rig.sentGrid->model()->rowCount() != state.range(0)) state.SkipWithError("rows missing");
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillSentCardsGrid)->Arg(kRecords)->Unit(benchmark::kMillisecond)->Iterations(5);

// The items list refilled by its page with the figures of `items` items
// over `cards` cards (interleaved as imports leave them; every tenth item
// has a level of its own), then painted. Counters: the time the window's
// thread spends in the refill (the count runs beside it), the longest round
// of its event loop meanwhile (the figures shown in the list included), and
// the time until the figures show.
void BM_ItemsPage_RefreshWithFigures(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  const int cards = static_cast<int>(state.range(1));
  QTemporaryDir dir;
  CreateDataTables(dir.path().toStdString());
  ShopContext shop(dir.path().toStdString());
  auto name = [](int k) { return "游戏点卡 面值"_gbk + std::to_string(k) + " 自动发货"_gbk; };
  {
    RecordTable itemsTable, stock;
    itemsTable.Open(shop.ItemsTablePath());
    itemsTable.Hold(true);
    for (int k = 0; k < items; ++k) itemsTable.Append({name(k), "", "0", "真"_gbk});
    stock.Open(shop.StockTablePath());
    stock.Hold(true);
    for (int i = 0; i < cards; ++i)
      stock.Append({name(i % items), "N" + std::to_string(1000000 + i), "P" + std::to_string(i)});
  }
  for (int k = 0; k < items; k += 10) SetWarningLevel(shop, name(k), cards / items + (k % 3) - 1);

  QuietPrompts prompts;
  QWidget root;
  root.resize(560, 300);
  auto* list = new QTreeWidget(&root);
  list->setGeometry(0, 0, 549, 285);
  list->setColumnCount(2);
  list->header()->resizeSection(0, 435);
  list->header()->resizeSection(1, 90);
  ItemsPage page(shop,
                 ItemsPageControls{new QLineEdit(&root), new QPushButton(&root), list, new QPushButton(&root),
                                   new QPushButton(&root), new QLineEdit(&root), new QLineEdit(&root),
                                   new QCheckBox(&root), new QSpinBox(&root)},
                 prompts);
  root.show();
  double guiMs = 0, shownMs = 0, longestStallMs = 0;
  using bench::Clock;
  const auto msSince = bench::MsSince;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    page.FillItemsList();
    guiMs += msSince(start);
    while (page.figuresPending()) {
      // One round of the event loop: the figures' arrival is handled in
      // one of them; the longest is how long the window could not answer.
      const Clock::time_point round = Clock::now();
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      longestStallMs = std::max(longestStallMs, msSince(round));
    }
    list->repaint();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    shownMs += ms;
    state.SetIterationTime(ms / 1000);
  }
  if (page.figures().size() != static_cast<std::size_t>(items) || page.figures()[1].inStock != cards / items)
    state.SkipWithError("figures missing");
  const double runs = static_cast<double>(state.iterations());
  state.counters["gui_thread_ms"] = guiMs / runs;
  state.counters["longest_event_round_ms"] = longestStallMs;
  state.counters["figures_shown_ms"] = shownMs / runs;
}
BENCHMARK(BM_ItemsPage_RefreshWithFigures)
    ->Args({1000, 1000000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

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
