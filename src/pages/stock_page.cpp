// The card-stock page; see stock_page.h.
#include "pages/stock_page.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <thread>

#include "pages/list_models.h"
#include "pages/page_texts.h"
#include "pages/qt_text.h"
#include "store/card_lines.h"
#include "store/shop_ops.h"
#include "store/store_ops.h"

namespace autodeliver {

struct StockPage::Import {
  std::thread thread;
  std::atomic<bool> running{false};
  std::string itemName;
  std::vector<ImportedCard> cards;
  std::string leftover;  // lines that were no cards
  StockImport result;    // written by the worker, read after it ended
};

StockPage::StockPage(const StockPageControls& controls, QObject* parent)
    : QObject(parent),
      itemChooser_(controls.itemChooser),
      importBox_(controls.importBox),
      importButton_(controls.importButton),
      stockList_(controls.stockList),
      deleteStockButton_(controls.deleteStockButton),
      import_(std::make_unique<Import>()) {
  importBox_->installEventFilter(this);

  stockModel_ = new StockListModel(this);
  stockList_->setModel(stockModel_);
  stockList_->setRootIsDecorated(false);
  stockList_->setUniformRowHeights(true);
  stockList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  stockList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  stockList_->setColumnWidth(StockListModel::kCardNumber, 200);
  stockList_->setColumnWidth(StockListModel::kCardPassword, 120);
  stockList_->setColumnHidden(StockListModel::kSqlid, true);

  connect(itemChooser_, &QComboBox::activated, this, &StockPage::ChooseItem);
  connect(importButton_, &QPushButton::clicked, this, &StockPage::ImportCards);
  connect(deleteStockButton_, &QPushButton::clicked, this, &StockPage::DeleteSelectedStock);
  // "修改卡号" and "修改卡密" have no action.
}

StockPage::~StockPage() {
  if (import_->thread.joinable()) import_->thread.join();
}

bool StockPage::importRunning() const { return import_->running.load(); }

void StockPage::ShowImportPlaceholder() {
  if (!importBox_) return;
  importBox_->setPlainText(QFromGbk(CardImportPlaceholder()));
  SetTextColour(importBox_, PlaceholderColour());
}

const std::string* StockPage::ChosenName() const {
  if (!itemChooser_) return nullptr;
  const int index = itemChooser_->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= chooserNames_.size()) return nullptr;
  return &chooserNames_[index];
}

void StockPage::FillItemChooser() {
  if (!itemChooser_) return;
  std::optional<std::string> chosen;
  if (const std::string* name = ChosenName()) chosen = *name;
  itemChooser_->clear();
  chooserNames_ = LoadItemNames();
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(chooserNames_.size()));
  for (const std::string& name : chooserNames_) texts.append(QFromGbk(name));
  itemChooser_->addItems(texts);
  // The seller's choice survives a refresh as long as the item exists, so
  // the stock list and the import keep working on the item shown.
  int keep = -1;
  if (chosen) {
    auto it = std::find(chooserNames_.begin(), chooserNames_.end(), *chosen);
    if (it != chooserNames_.end()) keep = static_cast<int>(it - chooserNames_.begin());
  }
  itemChooser_->setCurrentIndex(keep);
}

void StockPage::FillStockList() {
  const std::string* chosen = ChosenName();
  std::string name = chosen ? *chosen : std::string();
  std::vector<StockCard> cards = LoadStockCardsOf(name);
  stockModel_->Reset(std::move(name), std::move(cards));
}

void StockPage::ChooseItem() { FillStockList(); }

void StockPage::ImportCards() {
  if (!importBox_ || import_->running.load()) return;
  const std::string text = WithCrLfLineEnds(GbkFromQ(importBox_->toPlainText()));
  const std::string* chosen = ChosenName();
  Import& im = *import_;
  im.itemName = chosen ? *chosen : std::string();
  im.cards.clear();
  im.result = StockImport();
  if (text == CardImportPlaceholder() || !chosen) {
    // Nothing to import: whatever the seller typed stays in the box.
    im.leftover = text == CardImportPlaceholder() ? std::string() : text;
    FinishImport();
    return;
  }
  CardImportSplit split = SplitCardLines(text);
  im.cards = std::move(split.cards);
  im.leftover = std::move(split.leftover);
  if (im.thread.joinable()) im.thread.join();
  im.running = true;
  importBox_->setReadOnly(true);
  if (importButton_) importButton_->setEnabled(false);
  im.thread = std::thread([this, &im] {
    im.result = ImportStockCards(im.itemName, im.cards);
    QMetaObject::invokeMethod(
        this, [this] { FinishImport(); }, Qt::QueuedConnection);
  });
}

void StockPage::FinishImport() {
  Import& im = *import_;
  if (im.thread.joinable()) im.thread.join();
  // Every card that did not get into the stock goes back into the box,
  // before the lines that were no cards.
  std::string rest;
  auto keep = [&rest](const std::string& line) {
    if (!rest.empty()) rest += "\r\n";
    rest += line;
  };
  for (size_t i : im.result.refused) keep(im.cards[i].cardNumber + " " + im.cards[i].cardPassword);
  for (size_t i = im.result.handled; i < im.cards.size(); ++i)
    keep(im.cards[i].cardNumber + " " + im.cards[i].cardPassword);
  if (!im.leftover.empty()) keep(im.leftover);
  im.cards.clear();
  FillStockList();
  if (importBox_) {
    importBox_->setReadOnly(false);
    if (IsBlank(rest)) {
      ShowImportPlaceholder();
    } else {
      importBox_->setPlainText(QFromGbk(ReplaceText(rest, "\r\n", "\n")));
      SetTextColour(importBox_, TypedTextColour());
    }
  }
  if (importButton_) importButton_->setEnabled(true);
  im.running = false;
  emit importFinished();
}

void StockPage::DeleteSelectedStock() {
  if (!stockList_) return;
  std::vector<int> rows;
  for (const QModelIndex& index : stockList_->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  RemoveStockCards(stockModel_->itemName(), stockModel_->cards(), rows);
  FillStockList();
}

bool StockPage::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::FocusIn || type == QEvent::FocusOut) && watched == importBox_ &&
      qobject_cast<QPlainTextEdit*>(watched)) {
    const std::string text = WithCrLfLineEnds(GbkFromQ(importBox_->toPlainText()));
    if (type == QEvent::FocusIn && text == CardImportPlaceholder() && !import_->running.load()) {
      importBox_->clear();
      SetTextColour(importBox_, TypedTextColour());
    } else if (type == QEvent::FocusOut && text != CardImportPlaceholder() && IsBlank(text)) {
      ShowImportPlaceholder();
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace autodeliver
