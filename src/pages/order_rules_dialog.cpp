// The order rules' dialog; see order_rules_dialog.h.
#include "pages/order_rules_dialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "delivery/wording.h"
#include "pages/qt_text.h"
#include "pages/settings_form.h"
#include "store/item_table.h"

namespace autodeliver {
namespace {

enum ItemColumn { kItemName, kItemLimit, kItemEnforce, kItemApproval };
enum HeldColumn { kHeldOrder, kHeldBuyer, kHeldItem, kHeldQuantity, kHeldReason };

QTableWidget* Table(QWidget* parent, const QStringList& headers) {
  auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  return table;
}

QTableWidgetItem* Cell(const QString& text) { return new QTableWidgetItem(text); }

QString HeldReasonText(const HeldOrder& held) {
  if (held.approval == Approval::kApproved && held.reason && IsApprovable(*held.reason))
    return QStringLiteral("已同意，下一轮发货");
  return QString::fromStdString(ReasonText(*held.reason));
}

}  // namespace

OrderRulesDialog::OrderRulesDialog(ShopContext& shop, QWidget* parent)
    : QDialog(parent), shop_(shop), files_(shop) {
  setWindowTitle(QStringLiteral("发货规则"));
  resize(640, 640);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(
      QStringLiteral(
          "规则只会把订单拦下等待，不会改变发出的卡密；拦下的订单不动用库存。不设规则时照常发货。"),
      this));

  auto* blacklistGroup = new QGroupBox(QStringLiteral("黑名单（旺旺名须与订单页上完全一致）"), this);
  auto* blacklistLayout = new QHBoxLayout(blacklistGroup);
  blacklist_ = new QListWidget(blacklistGroup);
  blacklist_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  blacklist_->setMaximumHeight(90);
  blacklistLayout->addWidget(blacklist_, 1);
  auto* nickColumn = new QVBoxLayout;
  nickBox_ = new QLineEdit(blacklistGroup);
  nickBox_->setPlaceholderText(QStringLiteral("买家旺旺名"));
  auto* addNick = new QPushButton(QStringLiteral("加入"), blacklistGroup);
  auto* removeNick = new QPushButton(QStringLiteral("移出"), blacklistGroup);
  nickColumn->addWidget(nickBox_);
  nickColumn->addWidget(addNick);
  nickColumn->addWidget(removeNick);
  nickColumn->addStretch();
  blacklistLayout->addLayout(nickColumn);
  layout->addWidget(blacklistGroup);
  connect(addNick, &QPushButton::clicked, this, &OrderRulesDialog::AddTypedNick);
  connect(nickBox_, &QLineEdit::returnPressed, this, &OrderRulesDialog::AddTypedNick);
  connect(removeNick, &QPushButton::clicked, this, &OrderRulesDialog::RemoveSelectedNicks);

  auto* itemsGroup = new QGroupBox(QStringLiteral("宝贝规则"), this);
  auto* itemsLayout = new QVBoxLayout(itemsGroup);
  itemRules_ = Table(itemsGroup, {QStringLiteral("宝贝名称"), QStringLiteral("限拍件数"),
                                  QStringLiteral("执行限拍"), QStringLiteral("达到件数需确认（0 为不需）")});
  itemRules_->setSelectionMode(QAbstractItemView::NoSelection);
  itemRules_->horizontalHeader()->setSectionResizeMode(kItemName, QHeaderView::Stretch);
  itemRules_->horizontalHeader()->setStretchLastSection(false);
  itemsLayout->addWidget(itemRules_);
  layout->addWidget(itemsGroup, 1);

  auto* allGroup = new QGroupBox(QStringLiteral("全部宝贝"), this);
  auto* form = new QFormLayout(allGroup);
  dailyBox_ = new QSpinBox(allGroup);
  dailyBox_->setRange(0, 100000);
  dailyBox_->setSuffix(QStringLiteral(" 张"));
  dailyBox_->setSpecialValueText(QStringLiteral("不限"));
  form->addRow(QStringLiteral("同一买家当天超过需确认："), dailyBox_);
  delayBox_ = new QSpinBox(allGroup);
  delayBox_->setRange(0, 24 * 60);
  delayBox_->setSuffix(QStringLiteral(" 分钟"));
  delayBox_->setSpecialValueText(QStringLiteral("不延迟"));
  form->addRow(QStringLiteral("订单出现后延迟发货："), delayBox_);
  auto* quietRow = new QHBoxLayout;
  quietBox_ = new QCheckBox(QStringLiteral("免打扰时段，不发货："), allGroup);
  quietFrom_ = new QTimeEdit(allGroup);
  quietTo_ = new QTimeEdit(allGroup);
  quietFrom_->setDisplayFormat(QStringLiteral("HH:mm"));
  quietTo_->setDisplayFormat(QStringLiteral("HH:mm"));
  quietRow->addWidget(quietBox_);
  quietRow->addWidget(quietFrom_);
  quietRow->addWidget(new QLabel(QStringLiteral("至"), allGroup));
  quietRow->addWidget(quietTo_);
  quietRow->addStretch();
  form->addRow(quietRow);
  layout->addWidget(allGroup);

  auto* heldGroup = new QGroupBox(QStringLiteral("被拦下的订单（上一轮扫描时）"), this);
  auto* heldLayout = new QVBoxLayout(heldGroup);
  heldOrders_ =
      Table(heldGroup, {QStringLiteral("订单编号"), QStringLiteral("买家旺旺"), QStringLiteral("宝贝名称"),
                        QStringLiteral("数量"), QStringLiteral("原因")});
  heldLayout->addWidget(heldOrders_);
  auto* heldButtons = new QHBoxLayout;
  approveButton_ = new QPushButton(QStringLiteral("同意发货"), heldGroup);
  refuseButton_ = new QPushButton(QStringLiteral("拒绝发货"), heldGroup);
  approveButton_->setToolTip(QStringLiteral("超过限拍或待确认的订单在下一轮扫描时发货"));
  refuseButton_->setToolTip(QStringLiteral("本程序不再为这笔订单发货，留待在淘宝上处理"));
  heldButtons->addStretch();
  heldButtons->addWidget(approveButton_);
  heldButtons->addWidget(refuseButton_);
  heldLayout->addLayout(heldButtons);
  layout->addWidget(heldGroup, 1);
  connect(approveButton_, &QPushButton::clicked, this, [this] { DecideSelected(Approval::kApproved); });
  connect(refuseButton_, &QPushButton::clicked, this, [this] { DecideSelected(Approval::kRefused); });

  note_ = new QLabel(this);
  note_->hide();
  layout->addWidget(note_);
  AddOkAndCancel(this, layout);
  Load();
}

void OrderRulesDialog::Load() {
  const std::optional<OrderRules> rules = files_.LoadRules();
  loaded_ = rules.value_or(OrderRules{});
  note_->hide();
  if (!rules) Note(QStringLiteral("规则文件无法读取（order_rules.txt），目前没有规则生效。"), true);

  blacklist_->clear();
  for (const std::string& nick : loaded_.blacklist) blacklist_->addItem(QFromGbk(nick));

  std::vector<MonitoredItem> items;
  LoadItems(shop_, &items);
  itemNames_.clear();
  itemRules_->setRowCount(0);
  for (const MonitoredItem& item : items) {
    const int row = itemRules_->rowCount();
    itemRules_->insertRow(row);
    itemNames_.push_back(item.name);
    const auto rule = loaded_.items.find(item.name);
    const ItemRule shown = rule == loaded_.items.end() ? ItemRule{} : rule->second;
    itemRules_->setItem(row, kItemName, Cell(QFromGbk(item.name)));
    itemRules_->setItem(
        row, kItemLimit,
        Cell(item.purchaseLimit > 0 ? QString::number(item.purchaseLimit) : QStringLiteral("未设")));
    auto* enforce = new QCheckBox(itemRules_);
    enforce->setChecked(shown.enforceLimit);
    itemRules_->setCellWidget(row, kItemEnforce, enforce);
    auto* approval = new QSpinBox(itemRules_);
    approval->setRange(0, 100000);
    approval->setSuffix(QStringLiteral(" 件"));
    approval->setSpecialValueText(QStringLiteral("不需"));
    approval->setValue(shown.approvalQuantity);
    itemRules_->setCellWidget(row, kItemApproval, approval);
  }
  itemRules_->resizeColumnsToContents();
  itemRules_->horizontalHeader()->setSectionResizeMode(kItemName, QHeaderView::Stretch);

  dailyBox_->setValue(loaded_.dailyCardsPerBuyer);
  delayBox_->setValue(loaded_.delayMinutes);
  quietBox_->setChecked(loaded_.quietHours.has_value());
  const QuietHours quiet = loaded_.quietHours.value_or(QuietHours{23 * 60, 8 * 60});
  quietFrom_->setTime(QTime(quiet.from / 60, quiet.from % 60));
  quietTo_->setTime(QTime(quiet.to / 60, quiet.to % 60));
  FillHeldOrders();
}

void OrderRulesDialog::FillHeldOrders() {
  held_.clear();
  for (const HeldOrder& h : files_.LoadHolds()) {
    if (h.reason) held_.push_back(h);
  }
  heldOrders_->setRowCount(0);
  for (const HeldOrder& h : held_) {
    const int row = heldOrders_->rowCount();
    heldOrders_->insertRow(row);
    heldOrders_->setItem(row, kHeldOrder, Cell(QFromGbk(h.orderNumber)));
    heldOrders_->setItem(row, kHeldBuyer, Cell(QFromGbk(h.buyerNick)));
    heldOrders_->setItem(row, kHeldItem, Cell(QFromGbk(h.itemTitle)));
    heldOrders_->setItem(row, kHeldQuantity, Cell(QString::number(h.quantity)));
    heldOrders_->setItem(row, kHeldReason, Cell(HeldReasonText(h)));
  }
  heldOrders_->resizeColumnsToContents();
}

OrderRules OrderRulesDialog::Shown() const {
  OrderRules rules;
  for (int i = 0; i < blacklist_->count(); ++i) {
    const std::string nick = GbkFromQ(blacklist_->item(i)->text());
    if (!nick.empty() && !rules.IsBlacklisted(nick)) rules.blacklist.push_back(nick);
  }
  // Rules of items no longer monitored are kept: a renamed item gets its
  // rule back when its name returns.
  rules.items = loaded_.items;
  for (int row = 0; row < itemRules_->rowCount(); ++row) {
    const auto* enforce = qobject_cast<QCheckBox*>(itemRules_->cellWidget(row, kItemEnforce));
    const auto* approval = qobject_cast<QSpinBox*>(itemRules_->cellWidget(row, kItemApproval));
    rules.items[itemNames_[static_cast<std::size_t>(row)]] =
        ItemRule{enforce->isChecked(), approval->value()};
  }
  rules.dailyCardsPerBuyer = dailyBox_->value();
  rules.delayMinutes = delayBox_->value();
  if (quietBox_->isChecked()) {
    const QTime from = quietFrom_->time(), to = quietTo_->time();
    rules.quietHours = QuietHours{from.hour() * 60 + from.minute(), to.hour() * 60 + to.minute()};
  }
  return rules;
}

bool OrderRulesDialog::Store() {
  const Status stored = files_.SaveRules(Shown());
  if (stored) {
    loaded_ = Shown();
    note_->hide();
  } else {
    Note(QStringLiteral("规则无法写入数据文件夹（order_rules.txt）：%1，请检查后再试。")
             .arg(QString::fromStdString(ShortCauseText(stored))),
         true);
  }
  return stored.ok();
}

void OrderRulesDialog::AddTypedNick() {
  const QString nick = nickBox_->text();
  if (nick.isEmpty()) return;
  if (blacklist_->findItems(nick, Qt::MatchExactly).isEmpty()) blacklist_->addItem(nick);
  nickBox_->clear();
}

void OrderRulesDialog::RemoveSelectedNicks() { qDeleteAll(blacklist_->selectedItems()); }

bool OrderRulesDialog::DecideSelected(Approval approval) {
  const QList<QTableWidgetItem*> selected = heldOrders_->selectedItems();
  if (selected.isEmpty()) {
    Note(QStringLiteral("请先选中一笔被拦下的订单"), true);
    return false;
  }
  const HeldOrder& held = held_[static_cast<std::size_t>(selected.front()->row())];
  if (approval == Approval::kApproved && !IsApprovable(*held.reason)) {
    Note(held.reason == HoldReason::kBlacklisted
             ? QStringLiteral("买家在黑名单中：先把他移出黑名单并点“确定”")
             : QStringLiteral("这笔订单不需要确认，到时会自动发货"),
         true);
    return false;
  }
  if (!files_.SetApproval(held.orderNumber, approval)) {
    Note(QStringLiteral("这笔订单已不在待发货列表中，或无法写入数据文件夹"), true);
    FillHeldOrders();
    return false;
  }
  Note(approval == Approval::kApproved
           ? QStringLiteral("已同意订单 %1，下一轮扫描时发货").arg(QFromGbk(held.orderNumber))
           : QStringLiteral("已拒绝订单 %1，本程序不会为它发货，请在淘宝上处理")
                 .arg(QFromGbk(held.orderNumber)),
       false);
  FillHeldOrders();
  return true;
}

void OrderRulesDialog::Note(const QString& text, bool failure) {
  note_->setText(text);
  note_->setStyleSheet(failure ? QStringLiteral("color: #b01e1e;") : QString());
  note_->show();
}

void OrderRulesDialog::accept() {
  if (Store()) QDialog::accept();
}

}  // namespace autodeliver
