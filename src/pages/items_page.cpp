// The monitored-items page; see items_page.h.
#include "pages/items_page.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "pages/page_texts.h"
#include "pages/qt_text.h"
#include "store/shop_ops.h"
#include "store/store_ops.h"
#include "text/text_to_int.h"

namespace autodeliver {

ItemsPage::ItemsPage(const ItemsPageControls& controls, Prompts& prompts, QObject* parent)
    : QObject(parent),
      nameBox_(controls.nameBox),
      addButton_(controls.addButton),
      itemsList_(controls.itemsList),
      renameButton_(controls.renameButton),
      deleteButton_(controls.deleteButton),
      remarkBox_(controls.remarkBox),
      limitBox_(controls.limitBox),
      needsCardBox_(controls.needsCardBox),
      prompts_(prompts) {
  for (QWidget* box : {static_cast<QWidget*>(nameBox_), static_cast<QWidget*>(remarkBox_),
                       static_cast<QWidget*>(limitBox_)}) {
    box->installEventFilter(this);
  }
  itemsList_->setSelectionMode(QAbstractItemView::SingleSelection);
  itemsList_->setRootIsDecorated(false);
  itemsList_->viewport()->installEventFilter(this);

  connect(addButton_, &QPushButton::clicked, this, &ItemsPage::AddItem);
  connect(renameButton_, &QPushButton::clicked, this, &ItemsPage::RenameCheckedItems);
  connect(deleteButton_, &QPushButton::clicked, this, &ItemsPage::DeleteCheckedItems);
  connect(needsCardBox_, &QCheckBox::clicked, this, &ItemsPage::StoreNeedsCard);
}

void ItemsPage::FillItemsList() {
  if (!itemsList_) return;
  static const std::string kOnline = "在线卡密"_gbk;
  static const std::string kNoCard = "无需卡密"_gbk;
  itemsList_->clear();
  itemNames_.clear();
  std::vector<MonitoredItem> items;
  if (!LoadItems(&items)) return;
  QList<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(items.size()));
  for (const MonitoredItem& item : items) {
    auto* row = new QTreeWidgetItem;
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Unchecked);
    row->setText(0, QFromGbk(item.name));
    row->setText(1, QFromGbk(item.needsCard ? kOnline : kNoCard));
    rows.append(row);
    itemNames_.push_back(item.name);
  }
  itemsList_->addTopLevelItems(rows);
}

void ItemsPage::AddItem() {
  if (!nameBox_) return;
  const std::string name = GbkFromQ(nameBox_->text());
  if (name == ItemNamePlaceholder()) return;
  if (AddMonitoredItem(name) == AddItemResult::kAlreadyMonitored) {
    prompts_.ShowBox("宝贝已存在监控列表！"_gbk, "失败"_gbk, BoxKind::kError);
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
  for (const ShownItem& item : checked) {
    const std::optional<std::string> typed = prompts_.AskText(item.name + kPromptTail, "宝贝名称修改"_gbk);
    if (!typed) continue;
    if (!RenameItem(item.recordNumber, item.name, *typed))
      prompts_.ShowBox("修改宝贝信息出错！未知原因！"_gbk, "错误"_gbk, BoxKind::kError);
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
  DeleteItems(std::move(checked));
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
  if (record > 0) item = ReadItemAt(record);
  if (remarkBox_) remarkBox_->setText(item ? QFromGbk(item->remark) : QString());
  if (limitBox_) limitBox_->setText(item ? QString::number(item->purchaseLimit) : QString());
  if (needsCardBox_) needsCardBox_->setChecked(item ? item->needsCard : false);
}

void ItemsPage::StoreRemark() {
  const int record = SelectedRecord();
  if (record <= 0 || !remarkBox_) return;
  SetItemRemark(record, GbkFromQ(remarkBox_->text()));
  emit itemsChanged();
}

void ItemsPage::StoreLimit() {
  const int record = SelectedRecord();
  if (record <= 0 || !limitBox_) return;
  SetItemPurchaseLimit(record, TextToInt(GbkFromQ(limitBox_->text())));
  emit itemsChanged();
}

void ItemsPage::StoreNeedsCard(bool checked) {
  const int record = SelectedRecord();
  if (record <= 0) return;
  SetItemNeedsCard(record, checked);
  emit itemsChanged();
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
