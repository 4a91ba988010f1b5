// The stock figures of the items page: the "库存" and "待发" columns beside
// the layout's two, the warning colour of a row at or below its level, the
// warning once per crossing, the level set per item in the attributes box,
// and the cards that orders wait for, handed over by the delivery cycle.
#include <QSignalSpy>
#include <thread>

#include "delivery/cycle.h"
#include "page_fixture.h"
#include "store/item_table.h"
#include "store/stock_table.h"
#include "store/stock_warnings.h"
#include "store/warning_levels.h"

namespace autodeliver::testing_pages {
namespace {

class StockFiguresTest : public PagesTest {
 protected:
  void ItemWithCards(const std::string& name, int cards) {
    ASSERT_TRUE(AppendItem(shop(), {name, "", 0, true}));
    for (int i = 0; i < cards; ++i)
      ASSERT_TRUE(AppendStockCard(shop(), {name, name + std::to_string(i), "p", 0}));
  }

  // Column `c` of every row.
  std::vector<std::string> Column(int c) const {
    std::vector<std::string> out;
    for (int r = 0; r < w->itemsList->topLevelItemCount(); ++r)
      out.push_back(G(w->itemsList->topLevelItem(r)->text(c)));
    return out;
  }

  // Rows painted in the warning colour, in every column.
  std::vector<int> WarnedRows() const {
    std::vector<int> rows;
    for (int r = 0; r < w->itemsList->topLevelItemCount(); ++r) {
      int coloured = 0;
      for (int c = 0; c < ItemsPage::kColumnCount; ++c)
        if (w->itemsList->topLevelItem(r)->background(c).color() == ItemsPage::WarningColour() &&
            w->itemsList->topLevelItem(r)->background(c).style() != Qt::NoBrush)
          ++coloured;
      EXPECT_TRUE(coloured == 0 || coloured == ItemsPage::kColumnCount) << r;
      if (coloured) rows.push_back(r);
    }
    return rows;
  }

  static std::string Warning(const std::string& name, int stock, int level) {
    return StockWarningText(ItemStock{name, stock, 0, level});
  }

  // The warnings emitted so far, as "item|text" (GBK).
  static std::vector<std::string> Warnings(const QSignalSpy& spy) {
    std::vector<std::string> out;
    for (const QList<QVariant>& args : spy)
      out.push_back(G(args[0].toString()) + "|" + G(args[1].toString()));
    return out;
  }
};

TEST_F(StockFiguresTest, ColumnsCountTheStockAndLowRowsTurnTheWarningColourOncePerCrossing) {
  ItemWithCards("A", 3);
  ItemWithCards("B", 0);
  ItemWithCards("C", 2);
  ItemWithCards("D", 6);
  ASSERT_TRUE(SetWarningLevel(shop(), "C", 0));  // switched off
  QSignalSpy spy(&pages->items, &ItemsPage::stockWarning);
  pages->RefreshAllPages();
  WaitForFigures();

  // The layout's columns stay as they are; the figures follow them.
  QTreeWidgetItem* header = w->itemsList->headerItem();
  ASSERT_EQ(w->itemsList->columnCount(), 4);
  EXPECT_EQ(header->text(0), QStringLiteral("自动发货商品名称(勾选后将自动发货)"));
  EXPECT_EQ(header->text(1), QStringLiteral("监视状态"));
  EXPECT_EQ(header->text(2), QStringLiteral("库存"));
  EXPECT_EQ(header->text(3), QStringLiteral("待发"));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(Column(2), (std::vector<std::string>{"3", "0", "2", "6"}));
  EXPECT_EQ(Column(3), (std::vector<std::string>{"0", "0", "0", "0"}));
  // All four columns are in sight without scrolling.
  int widths = 0;
  for (int c = 0; c < 4; ++c) widths += w->itemsList->columnWidth(c);
  EXPECT_LE(widths, w->itemsList->viewport()->width());

  EXPECT_EQ(WarnedRows(), (std::vector<int>{0, 1}));
  EXPECT_EQ(Warnings(spy), (std::vector<std::string>{"A|" + Warning("A", 3, 5), "B|" + Warning("B", 0, 5)}));

  // A refill of a list that is still low warns no more.
  pages->RefreshAllPages();
  WaitForFigures();
  EXPECT_EQ(WarnedRows(), (std::vector<int>{0, 1}));
  EXPECT_EQ(spy.count(), 2);

  // An import lifts A above its level: its colour goes; a removal brings it
  // down again: a new crossing, a new warning.
  ChooseItem("A");
  Import(QStringLiteral("A3 p\nA4 p\nA5 p"));
  WaitForFigures();
  EXPECT_EQ(Column(2)[0], "6");
  EXPECT_EQ(WarnedRows(), (std::vector<int>{1}));
  ShowPageOf(w->stockList);
  w->stockList->selectAll();
  QTest::mouseClick(w->deleteStockButton, Qt::LeftButton);
  WaitForFigures();
  EXPECT_EQ(Column(2)[0], "0");
  EXPECT_EQ(WarnedRows(), (std::vector<int>{0, 1}));
  ASSERT_EQ(spy.count(), 3);
  EXPECT_EQ(Warnings(spy)[2], "A|" + Warning("A", 0, 5));
}

TEST_F(StockFiguresTest, WarningLevelIsSetPerItemInTheAttributesBox) {
  ItemWithCards("A", 3);
  ItemWithCards("B", 8);
  pages->RefreshAllPages();
  WaitForFigures();
  EXPECT_EQ(WarnedRows(), (std::vector<int>{0}));  // 3 cards, the default level 5
  // Nothing selected: the box is off and shows no level.
  EXPECT_FALSE(w->warningLevelBox->isEnabled());
  EXPECT_TRUE(w->warningLevelBox->text().trimmed().isEmpty());
  QSignalSpy spy(&pages->items, &ItemsPage::stockWarning);

  // Row B shows the default level; 10 typed and confirmed makes B low.
  ClickItemRow(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->warningLevelBox->isEnabled(); }, 2000));
  EXPECT_EQ(w->warningLevelBox->value(), kDefaultWarningLevel);
  Focus(w->warningLevelBox);
  w->warningLevelBox->selectAll();
  Type(w->warningLevelBox, QStringLiteral("10"));
  QTest::keyClick(w->warningLevelBox, Qt::Key_Return);
  WaitForFigures();
  EXPECT_EQ(LoadWarningLevels(shop()).Of("B"), 10);
  EXPECT_EQ(WarnedRows(), (std::vector<int>{0, 1}));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(Warnings(spy)[0], "B|" + Warning("B", 8, 10));
  // The list was not refilled: B stays selected.
  ASSERT_EQ(w->itemsList->selectedItems().size(), 1);
  EXPECT_EQ(w->itemsList->indexOfTopLevelItem(w->itemsList->selectedItems()[0]), 1);

  // Row A: 0 turns its warning off, and the box says so.
  ClickItemRow(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->warningLevelBox->value() == kDefaultWarningLevel; }, 2000));
  Focus(w->warningLevelBox);
  w->warningLevelBox->selectAll();
  Type(w->warningLevelBox, QStringLiteral("0"));
  Focus(w->nameBox);  // leaving the box confirms it
  WaitForFigures();
  EXPECT_EQ(LoadWarningLevels(shop()).Of("A"), 0);
  EXPECT_EQ(w->warningLevelBox->text(), QStringLiteral("不提醒"));
  EXPECT_EQ(WarnedRows(), (std::vector<int>{1}));
  EXPECT_EQ(LoadWarningLevels(shop()).Of("B"), 10);
}

// The delivery cycle hands over what its waiting orders need; the items
// page shows it as "待发" for the last cycle only.
TEST_F(StockFiguresTest, WaitingNeedsOfTheLastCycleShowAsPending) {
  ItemWithCards("A", 1);
  ItemWithCards("B", 9);
  pages->RefreshAllPages();
  WaitForFigures();
  auto cycle = [&](const std::vector<std::pair<PendingOrder, WaitReason>>& waiting) {
    // On a thread of its own, as the delivery thread calls it.
    std::thread([&] {
      pages->waitingNeeds.CycleStarted();
      for (const auto& [order, reason] : waiting) pages->waitingNeeds.OrderWaiting(order, reason, 1);
      CycleResult whole;  // a cycle that read the whole order list
      whole.scanOutcome = ScanOutcome::kListed;
      pages->waitingNeeds.CycleEnded(whole);
    }).join();
  };
  cycle({{PendingOrder{"T1", "A", 3, "buyer", "1"}, WaitReason::kStockShort},
         {PendingOrder{"T2", "A", 2, "buyer", "2"}, WaitReason::kStockShort},
         {PendingOrder{"T3", "B", 4, "buyer", "3"}, WaitReason::kSellerNickUnreadable}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return Column(3)[0] == "5"; }, 10000));
  WaitForFigures();
  EXPECT_EQ(Column(3), (std::vector<std::string>{"5", "0"}));
  EXPECT_EQ(pages->items.figures()[0].waiting, 5);

  cycle({});
  ASSERT_TRUE(QTest::qWaitFor([&] { return Column(3)[0] == "0"; }, 10000));
}

}  // namespace
}  // namespace autodeliver::testing_pages
