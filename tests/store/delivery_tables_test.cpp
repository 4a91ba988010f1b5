// The tables a delivery session holds open: the window's thread works on
// them between two holds and waits for a hold to end, and a table replaced
// under its name is opened again.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "store/delivery_step.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "support/shop_folder.h"
#include "tables/record_table.h"

namespace autodeliver {
namespace {

using DeliveryTablesTest = testing::ShopTest;

std::vector<std::string> Numbers(const std::vector<StockCard>& cards) {
  std::vector<std::string> out;
  for (const StockCard& c : cards) out.push_back(c.cardNumber);
  return out;
}

DeliveryPlan PlanFor(const std::string& order, const StockCard& card) {
  DeliveryPlan plan;
  plan.orderNumber = order;
  plan.itemName = card.itemName;
  plan.buyerNick = "buyer";
  plan.quantity = 1;
  plan.sentAt = "t";
  plan.cards.push_back({card.recordNumber, card.cardNumber, card.cardPassword, card.cardNumber});
  return plan;
}

// The window's thread asks for the stock while the delivery holds the
// tables: it waits for the hold to end and then finds the card taken and
// its row written, never one without the other.
TEST_F(DeliveryTablesTest, AStoreOperationOfAnotherThreadWaitsForTheHoldAndSeesItWhole) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"1", "2"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  DeliveryTables tables(shop());
  std::atomic<bool> holdEnded{false};
  bool endedBeforeTheLoad = false;
  std::vector<std::string> seen;
  bool sentSeen = false;
  std::thread window;
  {
    DeliveryTables::Hold hold(tables, true);
    const std::vector<StockCard> cards = tables.LoadFirstStockCardsOf("A", 1, nullptr);
    ASSERT_EQ(Numbers(cards), std::vector<std::string>{"1"});
    window = std::thread([&] {
      seen = Numbers(LoadStockCardsOf(shop(), "A"));
      endedBeforeTheLoad = holdEnded.load();
      sentSeen = SentCardExists(shop(), "100");
    });
    EXPECT_EQ(tables.RecordPlannedCards(PlanFor("100", cards[0])), RecordOutcome::kRecorded);
    holdEnded = true;
  }
  window.join();
  EXPECT_TRUE(endedBeforeTheLoad);
  EXPECT_EQ(seen, std::vector<std::string>{"2"});
  EXPECT_TRUE(sentSeen);

  // Between two holds the window writes the same files; the next hold sees it.
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "3", "p", 0}));
  const std::optional<StockCard> taken = TakeStockCard(shop(), "A");
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->cardNumber, "2");
  DeliveryTables::Hold hold(tables, true);
  std::size_t total = 0;
  EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 5, &total)), std::vector<std::string>{"3"});
  EXPECT_EQ(total, 1u);
  EXPECT_TRUE(tables.SentCardExists("100"));
}

// The stock file replaced by a copy with another card (a restore from a
// backup, say) between two holds: the session opens the new file and
// serves from it, never from the one it held.
TEST_F(DeliveryTablesTest, AStockFileReplacedBetweenTwoHoldsIsOpenedAgain) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "old", "p", 0}));
  DeliveryTables tables(shop());
  {
    DeliveryTables::Hold hold(tables);
    EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 1, nullptr)), std::vector<std::string>{"old"});
  }
  const std::string stock = TableFilePath(shop().StockTablePath());
  const std::string copy = stock + ".new";
  std::filesystem::copy_file(stock, copy);
  std::filesystem::copy_file(CompanionFilePath(stock), CompanionFilePath(copy));
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(copy) && t.GoTo(1) && t.MarkDeleted() && t.Append({"A", "new", "p"}));
  }
  std::filesystem::rename(CompanionFilePath(copy), CompanionFilePath(stock));
  std::filesystem::rename(copy, stock);

  DeliveryTables::Hold hold(tables);
  EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 1, nullptr)), std::vector<std::string>{"new"});
}

}  // namespace
}  // namespace autodeliver
