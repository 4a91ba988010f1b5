// The order rules' dialog, opened from the items page, and the sent-cards
// page's way onto the blacklist, in the real main window.
#include "pages/order_rules_dialog.h"

#include <QListWidget>
#include <QTableWidget>
#include <QTimeEdit>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "delivery/order_rules.h"
#include "page_fixture.h"
#include "store/item_table.h"
#include "store/sent_table.h"

namespace autodeliver {
namespace {

using testing_pages::PagesTest;

TEST_F(PagesTest, RulesSetInTheDialogReachTheRulesFileAndComeBackOnOpening) {
  ASSERT_TRUE(AppendItem(shop(), {"点卡"_gbk, "", 5, true}));
  ASSERT_TRUE(AppendItem(shop(), {"Q币"_gbk, "", 0, true}));
  pages->RefreshAllPages();
  auto* button = window->findChild<QPushButton*>(QStringLiteral("按钮发货规则"));
  ASSERT_NE(button, nullptr);
  ShowPageOf(button);
  button->click();
  OrderRulesDialog* dialog = pages->items.orderRules();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));

  QTableWidget* items = dialog->itemRules();
  ASSERT_EQ(items->rowCount(), 2);
  EXPECT_EQ(items->item(0, 1)->text(), QStringLiteral("5")) << "the stored limit is shown";
  EXPECT_EQ(items->item(1, 1)->text(), QStringLiteral("未设"));
  qobject_cast<QCheckBox*>(items->cellWidget(0, 2))->setChecked(true);
  qobject_cast<QSpinBox*>(items->cellWidget(1, 3))->setValue(10);
  for (const QString& nick : {QStringLiteral("坏买家"), QStringLiteral("坏买家"), QStringLiteral("x y")}) {
    dialog->nickBox()->setText(nick);
    dialog->AddTypedNick();
  }
  dialog->delayBox()->setValue(15);
  dialog->quietBox()->setChecked(true);
  dialog->quietFrom()->setTime(QTime(23, 30));
  dialog->quietTo()->setTime(QTime(6, 0));
  dialog->accept();
  EXPECT_FALSE(dialog->isVisible());

  const std::optional<OrderRules> stored = OrderRuleFiles(shop()).LoadRules();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->blacklist, (std::vector<std::string>{"坏买家"_gbk, "x y"}));
  EXPECT_EQ(stored->items.at("点卡"_gbk), (ItemRule{true, 0}));
  EXPECT_EQ(stored->items.at("Q币"_gbk), (ItemRule{false, 10}));
  EXPECT_EQ(stored->delayMinutes, 15);
  EXPECT_EQ(stored->quietHours, (QuietHours{23 * 60 + 30, 6 * 60}));

  // Opened again: what is stored, one nick taken off and not stored.
  button->click();
  EXPECT_EQ(dialog->blacklist()->count(), 2);
  dialog->blacklist()->item(0)->setSelected(true);
  dialog->RemoveSelectedNicks();
  dialog->reject();
  EXPECT_EQ(OrderRuleFiles(shop()).LoadRules()->blacklist.size(), 2u);
  EXPECT_TRUE(qobject_cast<QCheckBox*>(dialog->itemRules()->cellWidget(0, 2))->isChecked());

  // Another program's file where the rules belong: left alone, and the
  // dialog stays open saying why.
  const std::string rulesPath = OrderRuleFiles(shop()).RulesPath();
  { std::ofstream(rulesPath, std::ios::binary | std::ios::trunc) << "not a rules file\n"; }
  button->click();
  dialog->accept();
  EXPECT_TRUE(dialog->isVisible());
  const QList<QLabel*> labels = dialog->findChildren<QLabel*>();
  EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* l) {
    return l->isVisible() && l->text().contains(QStringLiteral("order_rules.txt）：数据文件已损坏"));
  }));
  std::ifstream in(rulesPath, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not a rules file\n");
  dialog->reject();
}

TEST_F(PagesTest, HeldOrdersAreApprovedOrRefusedOneByOneAndABlacklistedOneCannotBeApproved) {
  const OrderRuleFiles files(shop());
  const auto seen = std::chrono::system_clock::from_time_t(1'800'000'000);
  ASSERT_TRUE(files.SaveHolds({
      {"1001", "甲"_gbk, "点卡"_gbk, 9, seen, Approval::kNone, HoldReason::kAwaitingApproval},
      {"1002", "坏"_gbk, "点卡"_gbk, 1, seen, Approval::kNone, HoldReason::kBlacklisted},
      {"1003", "乙"_gbk, "点卡"_gbk, 1, seen, Approval::kNone, std::nullopt},  // let through: not shown
      {"1004", "丙"_gbk, "点卡"_gbk, 3, seen, Approval::kNone, HoldReason::kOverLimit},
  }));
  pages->items.OpenOrderRules();
  OrderRulesDialog* dialog = pages->items.orderRules();
  ASSERT_NE(dialog, nullptr);
  QTableWidget* held = dialog->heldOrders();
  ASSERT_EQ(held->rowCount(), 3);
  EXPECT_EQ(held->item(0, 4)->text(), QStringLiteral("待确认"));
  EXPECT_EQ(held->item(1, 4)->text(), QStringLiteral("买家在黑名单中"));

  EXPECT_FALSE(dialog->DecideSelected(Approval::kApproved)) << "nothing selected";
  held->selectRow(1);
  EXPECT_FALSE(dialog->DecideSelected(Approval::kApproved));
  held->selectRow(0);
  EXPECT_TRUE(dialog->DecideSelected(Approval::kApproved));
  EXPECT_EQ(held->item(0, 4)->text(), QStringLiteral("已同意，下一轮发货"));
  held->selectRow(2);
  EXPECT_TRUE(dialog->DecideSelected(Approval::kRefused));

  std::map<std::string, Approval> approvals;
  for (const HeldOrder& h : files.LoadHolds()) approvals[h.orderNumber] = h.approval;
  EXPECT_EQ(approvals, (std::map<std::string, Approval>{{"1001", Approval::kApproved},
                                                        {"1002", Approval::kNone},
                                                        {"1003", Approval::kNone},
                                                        {"1004", Approval::kRefused}}));
}

TEST_F(PagesTest, BuyersOfSelectedSentCardsGoOnTheBlacklistOnce) {
  ASSERT_TRUE(AppendSentCard(shop(), {"点卡"_gbk, "2001", "买家甲"_gbk, 2, "A1", "p", "", "t"}));
  ASSERT_TRUE(AppendSentCard(shop(), {"点卡"_gbk, "2001", "买家甲"_gbk, 2, "A2", "p", "", "t"}));
  ASSERT_TRUE(AppendSentCard(shop(), {"点卡"_gbk, "2002", "买家乙"_gbk, 1, "A3", "p", "", "t"}));
  pages->RefreshAllPages();
  ShowPageOf(w->sentGrid);
  EXPECT_EQ(pages->sentCards.BlacklistSelectedBuyers(), 0) << "no row selected";
  w->sentGrid->selectAll();
  EXPECT_EQ(pages->sentCards.BlacklistSelectedBuyers(), 2);
  EXPECT_EQ(pages->sentCards.BlacklistSelectedBuyers(), 2) << "listed before: still listed, not twice";
  EXPECT_EQ(OrderRuleFiles(shop()).LoadRules()->blacklist,
            (std::vector<std::string>{"买家甲"_gbk, "买家乙"_gbk}));
}

}  // namespace
}  // namespace autodeliver
