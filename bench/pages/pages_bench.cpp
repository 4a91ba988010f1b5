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
#include <QTreeWidget>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>

#include "pages/card_import.h"
#include "pages/pages.h"
#include "store/data_paths.h"
#include "store/store_ops.h"
#include "store/table_schema.h"

namespace autodeliver {
namespace {

constexpr int kRecords = 100000;

class NoDialogs : public PageDialogs {
 public:
  BoxAnswer ShowBox(const std::string&, const std::string&, BoxKind) override { return BoxAnswer::kOk; }
  std::optional<std::string> AskText(const std::string&, const std::string&) override { return std::nullopt; }
};

// The controls the benchmarked handlers use, under their layout names.
struct Rig {
  QTemporaryDir dir;
  QWidget root;
  NoDialogs dialogs;
  QComboBox* chooser;
  QPlainTextEdit* importBox;
  QTreeView* stockList;
  QTableView* sentGrid;
  Pages* pages;

  Rig() {
    CreateDataTables(dir.path().toStdString());
    SetProgramDir(dir.path().toStdString());
    root.resize(900, 700);
    auto named = [](QWidget* w, const char* name) { w->setObjectName(QString::fromUtf8(name)); };
    named(chooser = new QComboBox(&root), "组合框1");
    named(importBox = new QPlainTextEdit(&root), "编辑框3");
    named(new QPushButton(&root), "超级按钮8");
    named(stockList = new QTreeView(&root), "超级列表框2");
    named(sentGrid = new QTableView(&root), "高级表格1");
    named(new QTreeWidget(&root), "超级列表框1");
    stockList->setGeometry(0, 0, 450, 320);
    sentGrid->setGeometry(450, 0, 450, 384);
    pages = AttachPages(root, dialogs);
    AppendItem({"A", "", 0, true});
    pages->RefreshAllPages();
    chooser->setCurrentIndex(0);
    root.show();
  }
  ~Rig() { SetProgramDir(""); }
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
    rig->pages->ImportCards();
    while (rig->pages->importRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
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
    rig.pages->FillStockList();
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
    rig.pages->FillSentCardsGrid();
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
