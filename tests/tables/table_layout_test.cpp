// The store's operations on both table layouts the program meets: the one
// installed now (item names, order numbers and nicks in fixed-width fields)
// and the earlier one (every value from outside a long text). Each case
// runs the seller's and the delivery's work and reads the values back
// whole; a value wider than a fixed-width field is refused where it comes
// in, never cut.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../store/table_files.h"
#include "store/delivery_step.h"
#include "store/item_table.h"
#include "store/seller_actions.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/store_index.h"
#include "store/store_lock.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"
#include "tables/record_table.h"
#include "tables/table_format.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

std::vector<std::string> Numbers(const std::vector<StockCard>& cards) {
  std::vector<std::string> out;
  for (const StockCard& c : cards) out.push_back(c.cardNumber);
  return out;
}

// A plan for the oldest `quantity` cards of `item`, as the delivery makes it.
DeliveryPlan PlanFor(ShopContext& shop, const std::string& order, const std::string& item,
                     const std::string& nick, std::size_t quantity) {
  DeliveryPlan plan;
  plan.orderNumber = order;
  plan.itemName = item;
  plan.buyerNick = nick;
  plan.quantity = static_cast<int>(quantity);
  plan.sentAt = "2012年11月20日9时5分"_gbk;
  for (const StockCard& c : LoadFirstStockCardsOf(shop, item, quantity))
    plan.cards.push_back({c.recordNumber, c.cardNumber, c.cardPassword, c.cardNumber});
  return plan;
}

// Drops the store index, as a fresh process starts without one.
void DropIndex(ShopContext& shop) {
  StoreGuard guard(shop);
  shop.Index().InvalidateAll();
}

class TableLayoutTest : public ::testing::TestWithParam<TableLayout> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shop_.ok()) << shop_.error();
    DropIndex(shop());
  }

  bool Installed() const { return GetParam() == TableLayout::kInstalled; }
  ShopContext& shop() { return shop_.context(); }

  testing::ShopFolder shop_{GetParam()};
};

TEST_P(TableLayoutTest, TheFieldsAreTextsWithTheirNamesInOrder) {
  struct Table {
    std::string path;
    std::vector<FieldSpec> fields;
  } tables[] = {{shop().ItemsTablePath(), ItemsTableFields(GetParam())},
                {shop().StockTablePath(), StockTableFields(GetParam())},
                {shop().SentTablePath(), SentTableFields(GetParam())}};
  for (const Table& t : tables) {
    RecordTable table;
    ASSERT_TRUE(table.Open(t.path));
    ASSERT_EQ(table.Fields().size(), t.fields.size());
    for (std::size_t i = 0; i < t.fields.size(); ++i) {
      EXPECT_EQ(table.Fields()[i].name, t.fields[i].name);
      EXPECT_TRUE(table.Fields()[i].type == table_format::kFixedText ||
                  table.Fields()[i].type == table_format::kLongText);
    }
    // The item name leads every table; fixed-width only when installed now.
    EXPECT_EQ(table.Fields()[0].type == table_format::kFixedText, Installed()) << t.path;
  }
}

// The seller's and the delivery's work, end to end, with names at the
// installed layout's widths, GBK throughout.
TEST_P(TableLayoutTest, CoreOperationsKeepEveryValueWhole) {
  const std::string item = std::string(kItemNameWidth - 4, 'x') + "点卡"_gbk;  // exactly the width
  const std::string other = "月卡"_gbk;
  ASSERT_EQ(AddMonitoredItem(shop(), item), AddItemResult::kAdded);
  ASSERT_EQ(AddMonitoredItem(shop(), other), AddItemResult::kAdded);
  EXPECT_TRUE(ItemExists(shop(), item));
  EXPECT_FALSE(ItemExists(shop(), item.substr(0, item.size() - 2)));

  std::vector<ImportedCard> cards;
  for (int i = 0; i < 6; ++i)
    cards.push_back(
        {"http://cards.invalid/" + std::string(600, 'n') + std::to_string(i), "密" + std::to_string(i)});
  ASSERT_EQ(AppendStockCards(shop(), item, cards), cards.size());
  ASSERT_TRUE(AppendStockCard(shop(), {other, "M1", "m1", 0}));

  // A delivery of two cards: the oldest two, recorded whole.
  const std::string order(kOrderNumberWidth, '7');
  const std::string nick = std::string(kNickWidth - 2, 'b') + "甲"_gbk;
  EXPECT_FALSE(SentCardExists(shop(), order));
  ASSERT_EQ(RecordPlannedCards(shop(), PlanFor(shop(), order, item, nick, 2)), RecordOutcome::kRecorded);
  EXPECT_TRUE(SentCardExists(shop(), order));
  std::size_t total = 0;
  EXPECT_EQ(Numbers(LoadFirstStockCardsOf(shop(), item, 1, &total)),
            std::vector<std::string>{cards[2].cardNumber});
  EXPECT_EQ(total, 4u);

  // A take, the seller's rename (cards follow) and the compaction at close.
  auto taken = TakeStockCard(shop(), item);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->cardNumber, cards[2].cardNumber);
  const std::string renamed = "新"_gbk + item.substr(2);
  ASSERT_TRUE(RenameItem(shop(), 1, item, renamed));
  CompactStock(shop());
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), renamed)),
            (std::vector<std::string>{cards[3].cardNumber, cards[4].cardNumber, cards[5].cardNumber}));
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), other)), std::vector<std::string>{"M1"});
  EXPECT_TRUE(LoadStockCardsOf(shop(), item).empty());

  // Read back from the files by a fresh index.
  DropIndex(shop());
  std::vector<SentCard> sent;
  ASSERT_TRUE(LoadSentCards(shop(), &sent));
  ASSERT_EQ(sent.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(sent[i].itemName, item);
    EXPECT_EQ(sent[i].orderNumber, order);
    EXPECT_EQ(sent[i].buyerNick, nick);
    EXPECT_EQ(sent[i].cardNumber, cards[i].cardNumber);
    EXPECT_EQ(sent[i].cardPassword, cards[i].cardPassword);
  }
  EXPECT_TRUE(ItemExists(shop(), renamed));
  EXPECT_TRUE(SentCardExists(shop(), order));
}

// One byte more than the installed layout's widths: refused there, nothing
// written and nothing taken; stored whole where the field is a long text.
TEST_P(TableLayoutTest, WiderValuesAreRefusedByFixedFieldsNeverCut) {
  const std::string longName(kItemNameWidth + 1, 'x');
  EXPECT_EQ(ItemNameLimit(shop()), Installed() ? static_cast<std::size_t>(kItemNameWidth) : SIZE_MAX);
  EXPECT_EQ(AddMonitoredItem(shop(), longName),
            Installed() ? AddItemResult::kNameTooLong : AddItemResult::kAdded);
  EXPECT_EQ(ItemExists(shop(), longName), !Installed());
  EXPECT_FALSE(ItemExists(shop(), longName.substr(0, kItemNameWidth)));

  ASSERT_EQ(AddMonitoredItem(shop(), "A"), AddItemResult::kAdded);
  const int recordOfA = Installed() ? 1 : 2;
  const Status renamed = RenameItem(shop(), recordOfA, "A", longName + "y");
  EXPECT_EQ(renamed.code(), Installed() ? Status::Code::kTooLong : Status::Code::kOk);
  EXPECT_EQ(ItemExists(shop(), "A"), Installed());
  if (!Installed()) {
    ASSERT_TRUE(RenameItem(shop(), recordOfA, longName + "y", "A"));
  }

  ASSERT_TRUE(AppendStockCard(shop(), {"A", "N1", "P1", 0}));
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "N2", "P2", 0}));
  struct Case {
    std::string order, nick;
  } cases[] = {{std::string(kOrderNumberWidth + 1, '7'), "b"}, {"8", std::string(kNickWidth + 1, 'b')}};
  for (const Case& c : cases) {
    const RecordOutcome outcome = RecordPlannedCards(shop(), PlanFor(shop(), c.order, "A", c.nick, 1));
    EXPECT_EQ(outcome, Installed() ? RecordOutcome::kTooLong : RecordOutcome::kRecorded) << c.order;
    EXPECT_EQ(SentCardExists(shop(), c.order), !Installed());
    if (c.order.size() > kOrderNumberWidth) {
      EXPECT_FALSE(SentCardExists(shop(), c.order.substr(0, kOrderNumberWidth)));
    }
  }
  std::vector<SentCard> sent;
  ASSERT_TRUE(LoadSentCards(shop(), &sent));
  EXPECT_EQ(sent.size(), Installed() ? 0u : 2u);
  EXPECT_EQ(LoadStockCardsOf(shop(), "A").size(), Installed() ? 2u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TableLayoutTest,
                         ::testing::Values(TableLayout::kInstalled, TableLayout::kLongTexts),
                         [](const ::testing::TestParamInfo<TableLayout>& info) {
                           return info.param == TableLayout::kInstalled ? "Installed" : "LongTexts";
                         });

}  // namespace
}  // namespace autodeliver
