// The management pages and the delivery switch; see pages.h.
#include "pages/pages.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <thread>

#include "delivery/delivery_controller.h"
#include "pages/card_import.h"
#include "pages/list_models.h"
#include "store/stock_selection.h"
#include "store/store_lock.h"
#include "store/store_ops.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {

namespace {

const QColor kPlaceholderColour(0xC0, 0xC0, 0xC0);
const QColor kTextColour(0, 0, 0);
// Row backgrounds of the two lists: the attributes frame's colour on even
// rows, the page control's on odd rows.
const QColor kEvenRowColour(0xEA, 0xF0, 0xF7);
const QColor kOddRowColour(0xFF, 0xFF, 0xFF);
// Cards written per hold of the store lock during an import, so that the
// delivery thread is never kept waiting for a whole import.
constexpr size_t kImportBatch = 256;

QString ToQ(const std::string& gbk) { return QString::fromStdString(GbkToUtf8Lossy(gbk)); }
std::string ToGbk(const QString& text) { return Utf8ToGbkLossy(text.toStdString()); }

void SetTextColour(QWidget* w, const QColor& colour) {
  QPalette palette = w->palette();
  palette.setColor(QPalette::Text, colour);
  w->setPalette(palette);
}

// The placeholder rule on losing the focus: text that is empty once every
// space is removed gives way to the placeholder in silver.
bool IsBlank(const std::string& gbk) { return RemoveSpaces(gbk).empty(); }

}  // namespace

const std::string& ItemNamePlaceholder() {
  static const std::string kText = " → 在此处输入需要添加监视的商品名称"_gbk;
  return kText;
}

const std::string& CardImportPlaceholder() {
  static const std::string kText =
      " → 在此处输入需要添加入库的卡密以及卡号\r\n格式：\r\n卡密 卡号\r\n卡密1 卡号1\r\n卡密2 卡密2\r\n注：就算没有卡密，也要填0"_gbk;
  return kText;
}

// Guarded pointers: a control deleted before the pages (the window's
// children go first) reads as null, also in a focus change on the way out.
struct Pages::Controls {
  QPointer<QLineEdit> nameBox;              // 编辑框1
  QPointer<QLineEdit> remarkBox;            // 宝贝备注
  QPointer<QLineEdit> limitBox;             // 限拍数量
  QPointer<QLineEdit> intervalBox;          // 编辑框2
  QPointer<QPlainTextEdit> importBox;       // 编辑框3
  QPointer<QTreeWidget> itemsList;          // 超级列表框1
  QPointer<QTreeView> stockList;            // 超级列表框2
  QPointer<QTableView> sentGrid;            // 高级表格1
  QPointer<QComboBox> chooser;              // 组合框1
  QPointer<QPushButton> addButton;          // 超级按钮1
  QPointer<QPushButton> renameButton;       // 超级按钮2
  QPointer<QPushButton> deleteButton;       // 超级按钮3
  QPointer<QPushButton> applyButton;        // 超级按钮4
  QPointer<QPushButton> importButton;       // 超级按钮8
  QPointer<QPushButton> deleteStockButton;  // 超级按钮9
  QPointer<QCheckBox> needsCardBox;         // 选择框1
  QPointer<QCheckBox> switchBox;            // 选择框2
  QPointer<QLabel> statusLabel;             // 标签8
  QPointer<QTimer> timer;                   // 自动发货时钟
  std::vector<std::string> chooserNames;    // names of the chooser's entries
};

// The delivery thread's calls, carried over to the pages' thread.
class Pages::WindowBridge : public DeliveryWindow {
 public:
  explicit WindowBridge(Pages& pages) : pages_(pages) {}

  void RefreshAfterDelivery() override {
    QMetaObject::invokeMethod(
        &pages_, [p = &pages_] { p->RefreshAllPages(); }, Qt::QueuedConnection);
  }

  void SetTimerInterval(int milliseconds) override {
    QMetaObject::invokeMethod(
        &pages_,
        [p = &pages_, milliseconds] {
          QTimer* timer = p->c_->timer.data();
          if (!timer) return;
          if (milliseconds <= 0) {
            timer->stop();
            timer->setInterval(0);
          } else {
            timer->setInterval(milliseconds);
            timer->start();
          }
        },
        Qt::QueuedConnection);
  }

 private:
  Pages& pages_;
};

struct Pages::Import {
  std::thread thread;
  std::atomic<bool> running{false};
  std::string itemName;
  std::vector<ImportedCard> cards;
  std::string leftover;     // lines that were no cards
  std::string failedLines;  // cards the store refused, as lines
};

Pages::Pages(QWidget& root, PageDialogs& dialogs, QObject* parent)
    : QObject(parent),
      dialogs_(dialogs),
      c_(std::make_unique<Controls>()),
      bridge_(std::make_unique<WindowBridge>(*this)),
      import_(std::make_unique<Import>()) {
  Controls& c = *c_;
  c.nameBox = root.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
  c.remarkBox = root.findChild<QLineEdit*>(QStringLiteral("宝贝备注"));
  c.limitBox = root.findChild<QLineEdit*>(QStringLiteral("限拍数量"));
  c.intervalBox = root.findChild<QLineEdit*>(QStringLiteral("编辑框2"));
  c.importBox = root.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"));
  c.itemsList = root.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
  c.stockList = root.findChild<QTreeView*>(QStringLiteral("超级列表框2"));
  c.sentGrid = root.findChild<QTableView*>(QStringLiteral("高级表格1"));
  c.chooser = root.findChild<QComboBox*>(QStringLiteral("组合框1"));
  c.addButton = root.findChild<QPushButton*>(QStringLiteral("超级按钮1"));
  c.renameButton = root.findChild<QPushButton*>(QStringLiteral("超级按钮2"));
  c.deleteButton = root.findChild<QPushButton*>(QStringLiteral("超级按钮3"));
  c.applyButton = root.findChild<QPushButton*>(QStringLiteral("超级按钮4"));
  c.importButton = root.findChild<QPushButton*>(QStringLiteral("超级按钮8"));
  c.deleteStockButton = root.findChild<QPushButton*>(QStringLiteral("超级按钮9"));
  c.needsCardBox = root.findChild<QCheckBox*>(QStringLiteral("选择框1"));
  c.switchBox = root.findChild<QCheckBox*>(QStringLiteral("选择框2"));
  c.statusLabel = root.findChild<QLabel*>(QStringLiteral("标签8"));
  c.timer = root.findChild<QTimer*>(QStringLiteral("自动发货时钟"));

  for (QWidget* w : {static_cast<QWidget*>(c.nameBox), static_cast<QWidget*>(c.remarkBox),
                     static_cast<QWidget*>(c.limitBox), static_cast<QWidget*>(c.importBox)}) {
    if (w) w->installEventFilter(this);
  }

  if (c.itemsList) {
    c.itemsList->setSelectionMode(QAbstractItemView::SingleSelection);
    c.itemsList->setRootIsDecorated(false);
    c.itemsList->viewport()->installEventFilter(this);
  }
  if (c.stockList) {
    stockModel_ = new StockListModel(this);
    c.stockList->setModel(stockModel_);
    c.stockList->setRootIsDecorated(false);
    c.stockList->setUniformRowHeights(true);
    c.stockList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    c.stockList->setSelectionBehavior(QAbstractItemView::SelectRows);
    c.stockList->setColumnWidth(StockListModel::kCardNumber, 200);
    c.stockList->setColumnWidth(StockListModel::kCardPassword, 120);
    c.stockList->setColumnHidden(StockListModel::kSqlid, true);
  }
  if (c.sentGrid) {
    sentModel_ = new SentCardsModel(this);
    c.sentGrid->setModel(sentModel_);
    c.sentGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    c.sentGrid->verticalHeader()->setDefaultSectionSize(22);
    c.sentGrid->verticalHeader()->hide();
  }

  if (c.addButton) connect(c.addButton, &QPushButton::clicked, this, &Pages::AddItem);
  if (c.renameButton) connect(c.renameButton, &QPushButton::clicked, this, &Pages::RenameCheckedItems);
  if (c.deleteButton) connect(c.deleteButton, &QPushButton::clicked, this, &Pages::DeleteCheckedItems);
  if (c.needsCardBox) connect(c.needsCardBox, &QCheckBox::clicked, this, &Pages::StoreNeedsCard);
  if (c.importButton) connect(c.importButton, &QPushButton::clicked, this, &Pages::ImportCards);
  if (c.deleteStockButton)
    connect(c.deleteStockButton, &QPushButton::clicked, this, &Pages::DeleteSelectedStock);
  if (c.chooser) connect(c.chooser, &QComboBox::activated, this, &Pages::ChooseItem);
  if (c.switchBox) connect(c.switchBox, &QCheckBox::clicked, this, &Pages::SwitchClicked);
  if (c.applyButton) connect(c.applyButton, &QPushButton::clicked, this, &Pages::ApplyDeliverySetting);
  if (c.timer) connect(c.timer, &QTimer::timeout, this, &Pages::TimerTicked);
  // 超级按钮6 "修改卡号" and 超级按钮7 "修改卡密" have no action.

  // The main window's own notifications, when the root has them.
  const QMetaObject* meta = root.metaObject();
  if (meta->indexOfSignal("signedIn()") >= 0) connect(&root, SIGNAL(signedIn()), this, SLOT(OnSignedIn()));
  if (meta->indexOfSignal("refreshRequested()") >= 0)
    connect(&root, SIGNAL(refreshRequested()), this, SLOT(OnRefreshRequested()));
  if (meta->indexOfSignal("closing()") >= 0) connect(&root, SIGNAL(closing()), this, SLOT(OnClosing()));
}

Pages::~Pages() {
  if (import_->thread.joinable()) import_->thread.join();
}

void Pages::SetDeliveryController(DeliveryController* controller) { controller_ = controller; }

DeliveryWindow& Pages::deliveryWindow() { return *bridge_; }

bool Pages::importRunning() const { return import_->running.load(); }

void Pages::OnSignedIn() { FillAfterSignIn(); }
void Pages::OnRefreshRequested() { RefreshAllPages(); }
void Pages::OnClosing() { WindowClosing(); }

// ---- start-up and fills

void Pages::SetUpAtStart() {
  Controls& c = *c_;
  if (c.importBox) {
    c.importBox->setPlainText(ToQ(CardImportPlaceholder()));
    SetTextColour(c.importBox, kPlaceholderColour);
  }
  if (c.sentGrid) {
    for (int col = 0; col < SentCardsModel::kColumnCount; ++col)
      c.sentGrid->setColumnWidth(col, SentCardsModel::ColumnWidth(col));
  }
  for (QAbstractItemView* list :
       {static_cast<QAbstractItemView*>(c.itemsList), static_cast<QAbstractItemView*>(c.stockList)}) {
    if (!list) continue;
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, kEvenRowColour);
    palette.setColor(QPalette::AlternateBase, kOddRowColour);
    list->setPalette(palette);
    list->setAlternatingRowColors(true);
  }
}

void Pages::FillAfterSignIn() { RefreshAllPages(); }

void Pages::RefreshAllPages() {
  FillItemsList();
  FillItemChooser();
  FillStockList();
  FillSentCardsGrid();
}

void Pages::FillItemsList() {
  QTreeWidget* list = c_->itemsList;
  if (!list) return;
  static const std::string kOnline = "在线卡密"_gbk;
  static const std::string kNoCard = "无需卡密"_gbk;
  list->clear();
  itemNames_.clear();
  std::vector<MonitoredItem> items;
  if (!LoadItems(&items)) return;
  QList<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(items.size()));
  for (const MonitoredItem& item : items) {
    auto* row = new QTreeWidgetItem;
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Unchecked);
    row->setText(0, ToQ(item.name));
    row->setText(1, ToQ(item.needsCard ? kOnline : kNoCard));
    rows.append(row);
    itemNames_.push_back(item.name);
  }
  list->addTopLevelItems(rows);
}

void Pages::FillItemChooser() {
  Controls& c = *c_;
  if (!c.chooser) return;
  std::optional<std::string> chosen;
  const int index = c.chooser->currentIndex();
  if (index >= 0 && static_cast<size_t>(index) < c.chooserNames.size()) chosen = c.chooserNames[index];
  c.chooser->clear();
  c.chooserNames = LoadItemNames();
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(c.chooserNames.size()));
  for (const std::string& name : c.chooserNames) texts.append(ToQ(name));
  c.chooser->addItems(texts);
  // The seller's choice survives a refresh as long as the item exists, so
  // the stock list and the import keep working on the item shown.
  int keep = -1;
  if (chosen) {
    auto it = std::find(c.chooserNames.begin(), c.chooserNames.end(), *chosen);
    if (it != c.chooserNames.end()) keep = static_cast<int>(it - c.chooserNames.begin());
  }
  c.chooser->setCurrentIndex(keep);
}

void Pages::FillStockList() {
  Controls& c = *c_;
  if (!stockModel_) return;
  std::string name;
  if (c.chooser) {
    const int index = c.chooser->currentIndex();
    if (index >= 0 && static_cast<size_t>(index) < c.chooserNames.size()) name = c.chooserNames[index];
  }
  std::vector<StockCard> cards = LoadStockCardsOf(name);
  stockModel_->Reset(std::move(name), std::move(cards));
}

void Pages::FillSentCardsGrid() {
  if (!sentModel_) return;
  std::vector<SentCard> cards;
  if (!LoadSentCards(&cards)) return;  // the grid keeps what it showed
  sentModel_->Reset(std::move(cards));
}

// ---- monitored items page

void Pages::AddItem() {
  Controls& c = *c_;
  if (!c.nameBox) return;
  const std::string name = ToGbk(c.nameBox->text());
  if (name == ItemNamePlaceholder()) return;
  if (ItemExists(name)) {
    dialogs_.ShowBox("宝贝已存在监控列表！"_gbk, "失败"_gbk, BoxKind::kError);
    return;
  }
  MonitoredItem item;
  item.name = name;
  item.remark.clear();
  item.purchaseLimit = 0;
  item.needsCard = true;
  AppendItem(item);
  c.nameBox->clear();
  c.nameBox->setText(ToQ(ItemNamePlaceholder()));
  SetTextColour(c.nameBox, kPlaceholderColour);
  RefreshAllPages();
}

void Pages::RenameCheckedItems() {
  Controls& c = *c_;
  if (!c.itemsList) return;
  // The checked rows and their names, taken before the first prompt: the
  // prompt runs an event loop in which a delivery may refill the list.
  struct Checked {
    int row;
    std::string name;
  };
  std::vector<Checked> checked;
  for (int row = 0; row < c.itemsList->topLevelItemCount(); ++row) {
    if (c.itemsList->topLevelItem(row)->checkState(0) == Qt::Checked &&
        static_cast<size_t>(row) < itemNames_.size())
      checked.push_back({row, itemNames_[row]});
  }
  static const std::string kPromptTail = " - 请输入新的宝贝名称"_gbk;
  for (const Checked& entry : checked) {
    const std::optional<std::string> typed = dialogs_.AskText(entry.name + kPromptTail, "宝贝名称修改"_gbk);
    if (!typed) continue;
    bool written = false;
    {
      StoreGuard guard;
      std::optional<MonitoredItem> item = ReadItemAt(entry.row + 1);
      if (item) {
        item->name = *typed;
        written = WriteItemAt(entry.row + 1, *item);
      }
      if (written) RenameStockItem(entry.name, *typed);
    }
    if (!written) dialogs_.ShowBox("修改宝贝信息出错！未知原因！"_gbk, "错误"_gbk, BoxKind::kError);
  }
  RefreshAllPages();
}

void Pages::DeleteCheckedItems() {
  Controls& c = *c_;
  if (!c.itemsList) return;
  std::vector<int> rows;
  for (int row = 0; row < c.itemsList->topLevelItemCount(); ++row) {
    if (c.itemsList->topLevelItem(row)->checkState(0) == Qt::Checked &&
        static_cast<size_t>(row) < itemNames_.size())
      rows.push_back(row);
  }
  {
    // One hold of the store lock: the delivery thread must not take a card
    // that is already marked for removal.
    StoreGuard guard;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
      DeleteItemAt(*it + 1);
      MarkStockCardsOf(itemNames_[*it]);
    }
    PurgeStock();
  }
  RefreshAllPages();
}

void Pages::ShowAttributesOfSelection() {
  Controls& c = *c_;
  if (!c.itemsList) return;
  const QList<QTreeWidgetItem*> selected = c.itemsList->selectedItems();
  std::optional<MonitoredItem> item;
  if (!selected.isEmpty()) item = ReadItemAt(c.itemsList->indexOfTopLevelItem(selected.first()) + 1);
  if (c.remarkBox) c.remarkBox->setText(item ? ToQ(item->remark) : QString());
  if (c.limitBox) c.limitBox->setText(item ? QString::number(item->purchaseLimit) : QString());
  if (c.needsCardBox) c.needsCardBox->setChecked(item ? item->needsCard : false);
}

namespace {

int SelectedRow(QTreeWidget* list) {
  if (!list) return -1;
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
}

}  // namespace

void Pages::StoreRemark() {
  const int row = SelectedRow(c_->itemsList);
  if (row < 0 || !c_->remarkBox) return;
  {
    StoreGuard guard;
    if (std::optional<MonitoredItem> item = ReadItemAt(row + 1)) {
      item->remark = ToGbk(c_->remarkBox->text());
      WriteItemAt(row + 1, *item);
    }
  }
  RefreshAllPages();
}

void Pages::StoreLimit() {
  const int row = SelectedRow(c_->itemsList);
  if (row < 0 || !c_->limitBox) return;
  {
    StoreGuard guard;
    if (std::optional<MonitoredItem> item = ReadItemAt(row + 1)) {
      item->purchaseLimit = TextToInt(ToGbk(c_->limitBox->text()));
      WriteItemAt(row + 1, *item);
    }
  }
  RefreshAllPages();
}

void Pages::StoreNeedsCard(bool checked) {
  const int row = SelectedRow(c_->itemsList);
  if (row < 0) return;
  {
    StoreGuard guard;
    if (std::optional<MonitoredItem> item = ReadItemAt(row + 1)) {
      item->needsCard = checked;
      WriteItemAt(row + 1, *item);
    }
  }
  RefreshAllPages();
}

// ---- card stock page

void Pages::ChooseItem() { FillStockList(); }

void Pages::ImportCards() {
  Controls& c = *c_;
  if (!c.importBox || import_->running.load()) return;
  const std::string text = WithCrLfLineEnds(ToGbk(c.importBox->toPlainText()));
  std::string itemName;
  bool chosen = false;
  if (c.chooser) {
    const int index = c.chooser->currentIndex();
    if (index >= 0 && static_cast<size_t>(index) < c.chooserNames.size()) {
      itemName = c.chooserNames[index];
      chosen = true;
    }
  }
  Import& im = *import_;
  im.itemName = itemName;
  im.cards.clear();
  im.failedLines.clear();
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
  c.importBox->setReadOnly(true);
  if (c.importButton) c.importButton->setEnabled(false);
  // The cards are written on a thread of their own, so that a paste of many
  // thousands of lines leaves the window free to repaint.
  im.thread = std::thread([this, &im] {
    for (size_t start = 0; start < im.cards.size(); start += kImportBatch) {
      StoreGuard guard;
      const size_t end = std::min(im.cards.size(), start + kImportBatch);
      for (size_t i = start; i < end; ++i) {
        StockCard card;
        card.itemName = im.itemName;
        card.cardNumber = im.cards[i].cardNumber;
        card.cardPassword = im.cards[i].cardPassword;
        if (!AppendStockCard(card)) {
          // A card the store did not take goes back into the box.
          if (!im.failedLines.empty()) im.failedLines += "\r\n";
          im.failedLines += card.cardNumber + " " + card.cardPassword;
        }
      }
    }
    QMetaObject::invokeMethod(
        this, [this] { FinishImport(); }, Qt::QueuedConnection);
  });
}

void Pages::FinishImport() {
  Controls& c = *c_;
  Import& im = *import_;
  if (im.thread.joinable()) im.thread.join();
  std::string rest = im.failedLines;
  if (!im.leftover.empty()) {
    if (!rest.empty()) rest += "\r\n";
    rest += im.leftover;
  }
  im.cards.clear();
  FillStockList();
  if (c.importBox) {
    c.importBox->setReadOnly(false);
    if (IsBlank(rest)) {
      c.importBox->setPlainText(ToQ(CardImportPlaceholder()));
      SetTextColour(c.importBox, kPlaceholderColour);
    } else {
      c.importBox->setPlainText(ToQ(ReplaceText(rest, "\r\n", "\n")));
      SetTextColour(c.importBox, kTextColour);
    }
  }
  if (c.importButton) c.importButton->setEnabled(true);
  im.running = false;
  emit importFinished();
}

void Pages::DeleteSelectedStock() {
  Controls& c = *c_;
  if (!stockModel_ || !c.stockList) return;
  std::vector<int> rows;
  for (const QModelIndex& index : c.stockList->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  {
    // The cards on screen are lined up with the stock as it is now and
    // removed in one hold of the store lock, so cards the delivery thread
    // took since the list was filled cannot shift the removal onto others.
    StoreGuard guard;
    const std::vector<StockCard> current = LoadStockCardsOf(stockModel_->itemName());
    for (int record : RecordsOfSelectedCards(stockModel_->cards(), current, rows)) MarkStockCardAt(record);
    PurgeStock();
  }
  FillStockList();
}

// ---- the delivery switch

void Pages::SwitchClicked() {
  Controls& c = *c_;
  if (c.intervalBox && c.switchBox) c.intervalBox->setEnabled(c.switchBox->isChecked());
}

void Pages::ApplyDeliverySetting() {
  Controls& c = *c_;
  if (!controller_) return;
  const bool ticked = c.switchBox && c.switchBox->isChecked();
  const std::string seconds = c.intervalBox ? ToGbk(c.intervalBox->text()) : std::string();
  const std::string status = controller_->ApplySetting(ticked, seconds);
  if (c.statusLabel) c.statusLabel->setText(ToQ(status));
  emit deliverySettingApplied();
}

void Pages::TimerTicked() {
  if (controller_) controller_->OnTick();
}

void Pages::WindowClosing() {
  // The cycle in hand finishes its order and starts no other; the program's
  // end waits for it (the controller's destructor).
  if (controller_) controller_->RequestStop();
  if (c_->timer) c_->timer->stop();
}

// ---- focus changes and list clicks

bool Pages::eventFilter(QObject* watched, QEvent* event) {
  Controls& c = *c_;
  const QEvent::Type type = event->type();
  if (type == QEvent::FocusIn || type == QEvent::FocusOut) {
    // A box on its way out (the focus is cleared in the base destructor)
    // is no longer an edit box: leave it alone.
    if (!qobject_cast<QLineEdit*>(watched) && !qobject_cast<QPlainTextEdit*>(watched))
      return QObject::eventFilter(watched, event);
    const bool in = type == QEvent::FocusIn;
    if (watched == c.nameBox) {
      const std::string text = ToGbk(c.nameBox->text());
      if (in && text == ItemNamePlaceholder()) {
        c.nameBox->clear();
        SetTextColour(c.nameBox, kTextColour);
      } else if (!in && text != ItemNamePlaceholder() && IsBlank(text)) {
        SetTextColour(c.nameBox, kPlaceholderColour);
        c.nameBox->setText(ToQ(ItemNamePlaceholder()));
      }
    } else if (watched == c.importBox) {
      const std::string text = WithCrLfLineEnds(ToGbk(c.importBox->toPlainText()));
      if (in && text == CardImportPlaceholder() && !import_->running.load()) {
        c.importBox->clear();
        SetTextColour(c.importBox, kTextColour);
      } else if (!in && text != CardImportPlaceholder() && IsBlank(text)) {
        SetTextColour(c.importBox, kPlaceholderColour);
        c.importBox->setPlainText(ToQ(CardImportPlaceholder()));
      }
    } else if (watched == c.remarkBox && !in) {
      StoreRemark();
    } else if (watched == c.limitBox && !in) {
      StoreLimit();
    }
  } else if (type == QEvent::MouseButtonRelease && c.itemsList && watched == c.itemsList->viewport()) {
    // After the list has handled the click and updated its selection.
    QMetaObject::invokeMethod(
        this, [this] { ShowAttributesOfSelection(); }, Qt::QueuedConnection);
  }
  return QObject::eventFilter(watched, event);
}

Pages* AttachPages(QWidget& root, PageDialogs& dialogs) { return new Pages(root, dialogs, &root); }

}  // namespace autodeliver
