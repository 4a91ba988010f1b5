// The dialog "发货规则", opened from the monitored-items page: the order
// rules (delivery/order_rules.h) and the orders they hold back.
//
//   - "黑名单": the listed buyers' nicks; a nick typed and "加入", or the
//     selected ones "移出";
//   - "宝贝规则": one row per monitored item with its stored "限拍件数", a
//     tick to enforce it, and the quantity from which an order waits for
//     approval (0: never);
//   - "全部宝贝": cards per buyer per day beyond which an order waits for
//     approval, the delay in minutes, the quiet hours;
//   - "被拦下的订单": every order the rules hold now, with its reason;
//     "同意发货" lets an order over its limit or waiting for approval go out
//     in the next cycle, "拒绝发货" leaves it for the marketplace for good.
//
// "确定" stores the rules (the approvals are stored at once, when given); a
// rules file that cannot be written keeps the dialog open with a line
// saying so.
//
// Thread safety: a QDialog; GUI thread only. The files are read and written
// under the store lock, as the delivery thread reads them.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "delivery/order_rules.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QCheckBox;
class QTimeEdit;
class QTableWidget;
class QPushButton;

namespace autodeliver {

class ShopContext;

class OrderRulesDialog : public QDialog {
  Q_OBJECT

 public:
  explicit OrderRulesDialog(ShopContext& shop, QWidget* parent = nullptr);

  // Reads the rules, the monitored items and the held orders anew.
  void Load();
  // Stores the rules as the dialog shows them; false when they could not be
  // written.
  bool Store();
  // The rules as the dialog shows them.
  OrderRules Shown() const;

  // The handlers, public so that tests can drive them as the buttons do.
  void AddTypedNick();
  void RemoveSelectedNicks();
  // The seller's word on the selected held order; false when none is
  // selected, its reason cannot be approved, or the file was not written.
  bool DecideSelected(Approval approval);

  QLineEdit* nickBox() const { return nickBox_; }
  QListWidget* blacklist() const { return blacklist_; }
  QTableWidget* itemRules() const { return itemRules_; }
  QTableWidget* heldOrders() const { return heldOrders_; }
  QSpinBox* dailyBox() const { return dailyBox_; }
  QSpinBox* delayBox() const { return delayBox_; }
  QCheckBox* quietBox() const { return quietBox_; }
  QTimeEdit* quietFrom() const { return quietFrom_; }
  QTimeEdit* quietTo() const { return quietTo_; }

 public slots:
  void accept() override;

 private:
  ShopContext& shop_;
  void FillHeldOrders();
  void Note(const QString& text, bool failure);

  OrderRuleFiles files_;
  OrderRules loaded_;  // item rules of items not shown are kept
  std::vector<std::string> itemNames_;
  std::vector<HeldOrder> held_;  // the rows of heldOrders_
  QLineEdit* nickBox_;
  QListWidget* blacklist_;
  QTableWidget* itemRules_;
  QSpinBox* dailyBox_;
  QSpinBox* delayBox_;
  QCheckBox* quietBox_;
  QTimeEdit* quietFrom_;
  QTimeEdit* quietTo_;
  QTableWidget* heldOrders_;
  QPushButton* approveButton_;
  QPushButton* refuseButton_;
  QLabel* note_;
};

}  // namespace autodeliver
