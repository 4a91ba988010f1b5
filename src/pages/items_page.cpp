// The monitored-items page; see items_page.h.
#include "pages/items_page.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QEvent>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTreeWidget>
#include <thread>

#include "delivery/message_template.h"
#include "delivery/wording.h"
#include "pages/page_texts.h"
#include "pages/qt_text.h"
#include "store/item_table.h"
#include "store/seller_actions.h"
#include "store/warning_levels.h"
#include "text/text_to_int.h"

namespace autodeliver {

namespace {

// Width of each figure column; the name column gives them its room, so the
// four columns fill the list as the layout's two did.
constexpr int kFigureColumnWidth = 52;
constexpr int kMaxWarningLevel = 999999;

int CardsOf(const StockCounts& stock, const std::string& name) {
  auto it = stock.find(name);
  return it == stock.end() ? 0 : it->second;
}

}  // namespace

struct ItemsPage::Count {
  std::thread thread;
  void Join() {
    if (thread.joinable()) thread.join();
  }
};

ItemsPage::ItemsPage(ShopContext& shop, const ItemsPageControls& controls, Prompts& prompts, QObject* parent)
    : QObject(parent),
      shop_(shop),
      nameBox_(controls.nameBox),
      addButton_(controls.addButton),
      itemsList_(controls.itemsList),
      renameButton_(controls.renameButton),
      deleteButton_(controls.deleteButton),
      remarkBox_(controls.remarkBox),
      limitBox_(controls.limitBox),
      needsCardBox_(controls.needsCardBox),
      warningLevelBox_(controls.warningLevelBox),
      rulesButton_(controls.rulesButton),
      prompts_(prompts),
      count_(std::make_unique<Count>()),
      warnings_(StockWarningsPath(shop_)) {
  for (QWidget* box : {static_cast<QWidget*>(nameBox_), static_cast<QWidget*>(remarkBox_),
                       static_cast<QWidget*>(limitBox_)}) {
    box->installEventFilter(this);
  }
  itemsList_->setSelectionMode(QAbstractItemView::SingleSelection);
  itemsList_->setRootIsDecorated(false);
  itemsList_->viewport()->installEventFilter(this);
  // The figure columns after the layout's two.
  const int nameWidth = itemsList_->columnWidth(kNameColumn);
  itemsList_->setColumnCount(kColumnCount);
  QTreeWidgetItem* header = itemsList_->headerItem();
  header->setText(kStockColumn, QStringLiteral("库存"));
  header->setText(kWaitingColumn, QStringLiteral("待发"));
  for (int c : {kStockColumn, kWaitingColumn}) {
    header->setTextAlignment(c, Qt::AlignCenter);
    itemsList_->header()->resizeSection(c, kFigureColumnWidth);
  }
  itemsList_->header()->resizeSection(kNameColumn, std::max(120, nameWidth - 2 * kFigureColumnWidth));
  header->setToolTip(kStockColumn, QStringLiteral("库存中的卡密张数"));
  header->setToolTip(kWaitingColumn, QStringLiteral("上次扫描时因库存不足而等待发货的订单所需的卡密张数"));

  // Nothing selected yet: no level to show.
  warningLevelBox_->setKeyboardTracking(false);
  ShowNoWarningLevel();

  connect(addButton_, &QPushButton::clicked, this, &ItemsPage::AddItem);
  connect(renameButton_, &QPushButton::clicked, this, &ItemsPage::RenameCheckedItems);
  connect(deleteButton_, &QPushButton::clicked, this, &ItemsPage::DeleteCheckedItems);
  connect(needsCardBox_, &QCheckBox::clicked, this, &ItemsPage::StoreNeedsCard);
  // Arrow steps, and a typed number once it is confirmed or left.
  connect(warningLevelBox_, &QSpinBox::valueChanged, this, &ItemsPage::StoreWarningLevel);
  if (controls.templateButton)
    connect(controls.templateButton, &QPushButton::clicked, this, &ItemsPage::EditMessageTemplate);
  askTemplate = [this](const QString& itemName, const QString& current) -> std::optional<QString> {
    bool ok = false;
    const QString text = QInputDialog::getMultiLineText(
        itemsList_ ? itemsList_->window() : nullptr, QStringLiteral("消息模板 - ") + itemName,
        QStringLiteral("发给买家的消息（留空则用默认消息）。可用：{宝贝名称} {订单编号} {卡密} {数量}"),
        current, &ok);
    if (!ok) return std::nullopt;
    return text;
  };
  if (rulesButton_) {
    rulesButton_->setToolTip(QStringLiteral("黑名单、限拍、大额订单确认、延迟发货和免打扰时段"));
    connect(rulesButton_, &QPushButton::clicked, this, &ItemsPage::OpenOrderRules);
  }
}

void ItemsPage::OpenOrderRules() {
  if (!itemsList_) return;
  if (!orderRules_) {
    orderRules_ = new OrderRulesDialog(shop_, itemsList_->window());
  } else {
    orderRules_->Load();
  }
  orderRules_->show();
  orderRules_->raise();
  orderRules_->activateWindow();
}

ItemsPage::~ItemsPage() { count_->Join(); }

void ItemsPage::FillItemsList() {
  if (!itemsList_) return;
  static const std::string kOnline = "在线卡密"_gbk;
  static const std::string kNoCard = "无需卡密"_gbk;
  itemsList_->clear();
  itemNames_.clear();
  figures_.clear();
  std::vector<MonitoredItem> items;
  if (!LoadItems(shop_, &items)) return;
  QList<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(items.size()));
  for (const MonitoredItem& item : items) {
    auto* row = new QTreeWidgetItem;
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Unchecked);
    row->setText(0, QFromGbk(item.name));
    row->setText(1, QFromGbk(item.needsCard ? kOnline : kNoCard));
    for (int c : {kStockColumn, kWaitingColumn}) row->setTextAlignment(c, Qt::AlignCenter);
    rows.append(row);
    itemNames_.push_back(item.name);
  }
  itemsList_->addTopLevelItems(rows);
  RefreshFigures();
}

void ItemsPage::RefreshFigures() {
  if (counting_) {
    recountWanted_ = true;
    return;
  }
  StartCount();
}

void ItemsPage::SetWaitingNeeds(StockCounts needs) {
  waiting_ = std::move(needs);
  RefreshFigures();
}

void ItemsPage::StartCount() {
  counting_ = true;
  recountWanted_ = false;
  count_->Join();
  count_->thread = std::thread([this] {
    std::optional<StockCounts> stock = CountStockByItem(shop_);
    WarningLevels levels = LoadWarningLevels(shop_);
    QMetaObject::invokeMethod(
        this,
        [this, stock = std::move(stock), levels = std::move(levels)] {
          counting_ = false;
          // A newer count is wanted: this one may predate the rows shown
          // (and would warn of stock it has not seen), so only the newest
          // is shown.
          if (recountWanted_) {
            StartCount();
          } else {
            ShowFigures(stock, levels);
          }
        },
        Qt::QueuedConnection);
  });
}

void ItemsPage::ShowFigures(const std::optional<StockCounts>& stock, const WarningLevels& levels) {
  if (!itemsList_) return;
  if (!stock) {
    // Without the stock nothing is known: no figures, no warnings.
    figures_.clear();
  } else {
    figures_ = ItemStockFigures(itemNames_, *stock, waiting_, levels);
  }
  // Thousands of cells change at once: the model stays quiet while they do
  // (each change would reach the view on its own) and the view repaints
  // once. Rows and columns stay as they are, so the view has nothing else
  // to learn.
  QAbstractItemModel* model = itemsList_->model();
  const bool wasBlocked = model->blockSignals(true);
  const int rows = itemsList_->topLevelItemCount();
  for (int r = 0; r < rows; ++r) {
    QTreeWidgetItem* row = itemsList_->topLevelItem(r);
    const ItemStock* figure = static_cast<std::size_t>(r) < figures_.size() ? &figures_[r] : nullptr;
    row->setText(kStockColumn, figure ? QString::number(figure->inStock) : QString());
    row->setText(kWaitingColumn, figure ? QString::number(figure->waiting) : QString());
    const bool low = figure && figure->Low();
    const QBrush background = low ? QBrush(WarningColour()) : QBrush();
    const QString tip = low ? QStringLiteral("库存只剩 %1 张，不多于预警线 %2 张")
                                  .arg(figure->inStock)
                                  .arg(figure->warningLevel)
                            : QString();
    for (int c = 0; c < kColumnCount; ++c) {
      row->setBackground(c, background);
      row->setToolTip(c, tip);
    }
  }
  model->blockSignals(wasBlocked);
  itemsList_->viewport()->update();
  if (!stock) return;
  for (const ItemStock& crossed : warnings_.Update(figures_))
    emit stockWarning(QFromGbk(crossed.name), QFromGbk(StockWarningText(crossed)));
}

void ItemsPage::AddItem() {
  if (!nameBox_) return;
  const std::string name = GbkFromQ(nameBox_->text());
  if (name == ItemNamePlaceholder()) return;
  const AddItemResult added = AddMonitoredItem(shop_, name);
  if (added == AddItemResult::kAlreadyMonitored) {
    prompts_.ShowBox("宝贝已存在监控列表！"_gbk, "失败"_gbk, BoxKind::kError);
    return;
  }
  // The name stays in the box for the seller to shorten.
  if (added == AddItemResult::kNameTooLong) {
    prompts_.ShowBox(NameTooLongText(ItemNameLimit(shop_)), "失败"_gbk, BoxKind::kError);
    return;
  }
  nameBox_->clear();
  nameBox_->setText(QFromGbk(ItemNamePlaceholder()));
  SetTextColour(nameBox_, PlaceholderColour());
  emit itemsChanged();
}

void ItemsPage::RenameCheckedItems() {
  if (!itemsList_) return;
  // The checked rows and their names, taken before the first prompt: the
  // prompt runs an event loop in which a delivery may refill the list.
  std::vector<ShownItem> checked;
  for (int row = 0; row < itemsList_->topLevelItemCount(); ++row) {
    if (itemsList_->topLevelItem(row)->checkState(0) == Qt::Checked &&
        static_cast<size_t>(row) < itemNames_.size())
      checked.push_back({row + 1, itemNames_[row]});
  }
  static const std::string kPromptTail = " - 请输入新的宝贝名称"_gbk;
  static const std::string kCaption = "宝贝名称修改"_gbk;
  for (const ShownItem& item : checked) {
    // The box holds the current name, so a small change is a small edit.
    const std::optional<std::string> typed = prompts_.AskText(item.name + kPromptTail, kCaption, item.name);
    if (!typed || *typed == item.name) continue;
    // An empty name matches no order: the item's cards would sit unused.
    if (IsBlank(*typed)) {
      prompts_.ShowBox("宝贝名称不能为空，没有修改。"_gbk, kCaption, BoxKind::kError);
      continue;
    }
    if (typed->size() > ItemNameLimit(shop_)) {
      prompts_.ShowBox(NameTooLongText(ItemNameLimit(shop_)), kCaption, BoxKind::kError);
      continue;
    }
    const Status renamed = RenameItem(shop_, item.recordNumber, item.name, *typed);
    if (renamed) {
      emit changeMade(
          QStringLiteral("宝贝“%1”改名为“%2”，库存卡密随之改名").arg(QFromGbk(item.name), QFromGbk(*typed)));
    } else {
      // The cause in the words the delivery uses for it, in place of a guess.
      prompts_.ShowBox(
          "修改宝贝信息出错！"_gbk + Utf8ToGbkLossy(CauseText(renamed) + "，" + CauseAdvice(renamed) + "。"),
          "错误"_gbk, BoxKind::kError);
    }
  }
  emit itemsChanged();
}

void ItemsPage::DeleteCheckedItems() {
  if (!itemsList_) return;
  std::vector<ShownItem> checked;
  for (int row = 0; row < itemsList_->topLevelItemCount(); ++row) {
    if (itemsList_->topLevelItem(row)->checkState(0) == Qt::Checked &&
        static_cast<size_t>(row) < itemNames_.size())
      checked.push_back({row + 1, itemNames_[row]});
  }
  if (!checked.empty()) {
    // The cards go with their items: the question says how many.
    const std::optional<StockCounts> stock = CountStockByItem(shop_);
    std::size_t cards = 0;
    for (const ShownItem& item : checked) cards += stock ? CardsOf(*stock, item.name) : 0;
    const std::string cardsText = stock ? std::to_string(cards) : "?";
    const std::string question = checked.size() == 1 ? "确定删除宝贝“"_gbk + checked.front().name +
                                                           "”及其 "_gbk + cardsText + " 张卡密？"_gbk
                                                     : "确定删除这 "_gbk + std::to_string(checked.size()) +
                                                           " 个宝贝及其 "_gbk + cardsText + " 张卡密？"_gbk;
    if (prompts_.ShowBox(question, "删除商品"_gbk, BoxKind::kQuestion) != BoxAnswer::kYes) return;
    std::vector<QString> lines;
    for (const ShownItem& item : checked) {
      lines.push_back(stock ? QStringLiteral("删除宝贝“%1”及其 %2 张库存卡密")
                                  .arg(QFromGbk(item.name))
                                  .arg(CardsOf(*stock, item.name))
                            : QStringLiteral("删除宝贝“%1”及其库存卡密").arg(QFromGbk(item.name)));
    }
    Status failure;
    const std::size_t deleted = DeleteItems(shop_, std::move(checked), &failure);
    if (failure.ok()) {
      for (const QString& line : lines) emit changeMade(line);
    } else {
      if (deleted > 0) emit changeMade(QStringLiteral("删除 %1 个宝贝及其库存卡密").arg(deleted));
      prompts_.ShowBox("删除宝贝出错！已删除 "_gbk + std::to_string(deleted) + " 个宝贝。\r\n"_gbk +
                           Utf8ToGbkLossy(CauseSentence(failure)),
                       "删除商品"_gbk, BoxKind::kError);
    }
  }
  emit itemsChanged();
}

int ItemsPage::SelectedRecord() const {
  if (!itemsList_) return 0;
  const QList<QTreeWidgetItem*> selected = itemsList_->selectedItems();
  return selected.isEmpty() ? 0 : itemsList_->indexOfTopLevelItem(selected.first()) + 1;
}

void ItemsPage::ShowAttributesOfSelection() {
  const int record = SelectedRecord();
  std::optional<MonitoredItem> item;
  if (record > 0) item = ReadItemAt(shop_, record);
  if (remarkBox_) remarkBox_->setText(item ? QFromGbk(item->remark) : QString());
  if (limitBox_) limitBox_->setText(item ? QString::number(item->purchaseLimit) : QString());
  if (needsCardBox_) needsCardBox_->setChecked(item ? item->needsCard : false);
  if (!item) {
    ShowNoWarningLevel();
  } else if (warningLevelBox_) {
    const QSignalBlocker quiet(warningLevelBox_);
    warningLevelBox_->setRange(0, kMaxWarningLevel);
    warningLevelBox_->setSpecialValueText(QStringLiteral("不提醒"));
    warningLevelBox_->setValue(LoadWarningLevels(shop_).Of(item->name));
    warningLevelBox_->setEnabled(true);
  }
}

void ItemsPage::ShowNoWarningLevel() {
  if (!warningLevelBox_) return;
  const QSignalBlocker quiet(warningLevelBox_);
  // A value below every level, shown as a blank.
  warningLevelBox_->setRange(-1, -1);
  warningLevelBox_->setSpecialValueText(QStringLiteral(" "));
  warningLevelBox_->setValue(-1);
  warningLevelBox_->setEnabled(false);
}

bool ItemsPage::AttributeStored(const Status& stored) {
  if (stored) return true;
  prompts_.ShowBox("修改宝贝信息出错！"_gbk + Utf8ToGbkLossy(CauseSentence(stored)), "错误"_gbk,
                   BoxKind::kError);
  // The boxes show what the table holds, so the edit does not look saved.
  ShowAttributesOfSelection();
  return false;
}

void ItemsPage::StoreRemark() {
  const int record = SelectedRecord();
  if (record <= 0 || !remarkBox_) return;
  if (AttributeStored(SetItemRemark(shop_, record, GbkFromQ(remarkBox_->text())))) emit itemsChanged();
}

void ItemsPage::StoreLimit() {
  const int record = SelectedRecord();
  if (record <= 0 || !limitBox_) return;
  if (AttributeStored(SetItemPurchaseLimit(shop_, record, TextToInt(GbkFromQ(limitBox_->text())))))
    emit itemsChanged();
}

void ItemsPage::StoreNeedsCard(bool checked) {
  const int record = SelectedRecord();
  if (record <= 0) return;
  if (AttributeStored(SetItemNeedsCard(shop_, record, checked))) emit itemsChanged();
}

void ItemsPage::StoreWarningLevel(int level) {
  const int record = SelectedRecord();
  if (level < 0) return;
  if (record <= 0 || static_cast<std::size_t>(record) > itemNames_.size()) return;
  // The items table is not touched: the list keeps its selection, only the
  // figures (and the row's colour) change.
  if (AttributeStored(SetWarningLevel(shop_, itemNames_[record - 1], level))) RefreshFigures();
}

void ItemsPage::EditMessageTemplate() {
  const int record = SelectedRecord();
  if (record <= 0 || static_cast<std::size_t>(record) > itemNames_.size()) {
    prompts_.ShowBox("请先在列表中选中一个宝贝"_gbk, "消息模板"_gbk, BoxKind::kInformation);
    return;
  }
  const std::string item = itemNames_[record - 1];
  // The edit box shows CR LF as one line break, and gives LF back.
  QString current = QFromGbk(MessageTemplateOf(shop_, item).value_or(std::string()));
  current.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  const std::optional<QString> typed = askTemplate(QFromGbk(item), current);
  if (!typed) return;
  QString text = *typed;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
      .replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  Status failure;
  switch (SetMessageTemplate(shop_, item, GbkFromQ(text), &failure)) {
    case TemplateSave::kSaved:
      return;
    case TemplateSave::kTooLong:
      prompts_.ShowBox("消息模板太长，加上卡密后旺旺聊天窗口放不下，没有保存。请删减后再试。"_gbk,
                       "消息模板"_gbk, BoxKind::kError);
      return;
    case TemplateSave::kFailed:
      prompts_.ShowBox("消息模板保存失败！"_gbk + Utf8ToGbkLossy(CauseSentence(failure)), "消息模板"_gbk,
                       BoxKind::kError);
      return;
  }
}

bool ItemsPage::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::FocusIn || type == QEvent::FocusOut) {
    // A box on its way out (the focus is cleared in the base destructor)
    // is no longer an edit box: leave it alone.
    if (!qobject_cast<QLineEdit*>(watched)) return QObject::eventFilter(watched, event);
    const bool in = type == QEvent::FocusIn;
    if (watched == nameBox_) {
      const std::string text = GbkFromQ(nameBox_->text());
      if (in && text == ItemNamePlaceholder()) {
        nameBox_->clear();
        SetTextColour(nameBox_, TypedTextColour());
      } else if (!in && text != ItemNamePlaceholder() && IsBlank(text)) {
        SetTextColour(nameBox_, PlaceholderColour());
        nameBox_->setText(QFromGbk(ItemNamePlaceholder()));
      }
    } else if (watched == remarkBox_ && !in) {
      StoreRemark();
    } else if (watched == limitBox_ && !in) {
      StoreLimit();
    }
  } else if (type == QEvent::MouseButtonRelease && itemsList_ && watched == itemsList_->viewport()) {
    // After the list has handled the click and updated its selection.
    QMetaObject::invokeMethod(
        this, [this] { ShowAttributesOfSelection(); }, Qt::QueuedConnection);
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace autodeliver
