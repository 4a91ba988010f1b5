// Figures for the management pages at a busy shop's scale: the import of
// 100,000 pasted card lines (split alone, and the whole import with the
// writes and the refill), and the refill of the stock list and of the
// sent-cards grid from 100,000 records, each followed by a repaint of the
// view. Runs offscreen on a temporary program directory.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>

#include "pages/sent_cards_page.h"
#include "pages/stock_page.h"
#include "store/card_lines.h"
#include "store/data_paths.h"
#include "store/store_ops.h"
#include "store/table_schema.h"

namespace autodeliver {
namespace {

constexpr int kRecords = 100000;

// The two pages the figures are about, on widgets of their own.
struct Rig {
  QTemporaryDir dir;
  QWidget root;
  QComboBox* chooser;
  QPlainTextEdit* importBox;
  QTreeView* stockList;
  QTableView* sentGrid;
  std::unique_ptr<StockPage> stock;
  std::unique_ptr<SentCardsPage> sentCards;

  Rig() {
    CreateDataTables(dir.path().toStdString());
    SetProgramDir(dir.path().toStdString());
    root.resize(900, 700);
    chooser = new QComboBox(&root);
    importBox = new QPlainTextEdit(&root);
    stockList = new QTreeView(&root);
    sentGrid = new QTableView(&root);
    stockList->setGeometry(0, 0, 450, 320);
    sentGrid->setGeometry(450, 0, 450, 384);
    stock = std::make_unique<StockPage>(
        StockPageControls{chooser, importBox, new QPushButton(&root), stockList, new QPushButton(&root)});
    sentCards = std::make_unique<SentCardsPage>(SentCardsPageControls{sentGrid});
    AppendItem({"A", "", 0, true});
    stock->FillItemChooser();
    chooser->setCurrentIndex(0);
    root.show();
  }
  ~Rig() {
    stock.reset();
    sentCards.reset();
    SetProgramDir("");
  }
};

QString PastedLines(int n) {
  QString text;
  text.reserve(n * 16);
  for (int i = 0; i < n; ++i) text += QStringLiteral("N%1 P%1\n").arg(i, 6, 10, QLatin1Char('0'));
  return text;
}

void BM_SplitCardLines(benchmark::State& state) {
  const std::string text = WithCrLfLineEnds(PastedLines(static_cast<int>(state.range(0))).toStdString());
  for (auto _ : state) {
    CardImportSplit split = SplitCardLines(text);
    benchmark::DoNotOptimize(split.cards.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SplitCardLines)->Arg(kRecords)->Unit(benchmark::kMillisecond);

// Paste, "增加入库", wait for the end of the import (cards written, stock
// list refilled, box reset), on a fresh stock table each time.
void BM_ImportPastedLines(benchmark::State& state) {
  const QString text = PastedLines(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    auto rig = std::make_unique<Rig>();
    rig->importBox->setPlainText(text);
    state.ResumeTiming();
    rig->stock->ImportCards();
    while (rig->stock->importRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
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
  for (int i = 0; i < state.range(0); ++i) AppendStockCard({"A", "N" + std::to_string(i), "P", 0});
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
    AppendSentCard({"A", "T" + std::to_string(i / 2), "buyer", 2, "N" + std::to_string(i), "P", "", "2012"});
  }
  for (auto _ : state) {
    rig.sentCards->FillSentCardsGrid();
    rig.sentGrid->repaint();
  }
  if (rig.sentGrid->model()->rowCount() != state.range(0)) state.SkipWithError("rows missing");
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillSentCardsGrid)->Arg(kRecords)->Unit(benchmark::kMillisecond)->Iterations(5);

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
