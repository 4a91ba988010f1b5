// Lining up the stock list as shown with the stock as it is now.
#include "store/stock_selection.h"

#include <gtest/gtest.h>

namespace autodeliver {
namespace {

// Cards of item "I" from "number:record" pairs; the password is the number
// with a "p" in front.
std::vector<StockCard> Cards(std::initializer_list<std::pair<const char*, int>> list) {
  std::vector<StockCard> cards;
  for (const auto& [number, record] : list) cards.push_back({"I", number, std::string("p") + number, record});
  return cards;
}

TEST(RecordsOfSelectedCards, UnchangedStockGivesTheShownRecords) {
  const auto shown = Cards({{"A", 3}, {"B", 5}, {"C", 6}, {"D", 9}});
  EXPECT_EQ(RecordsOfSelectedCards(shown, shown, {0, 2}), (std::vector<int>{3, 6}));
}

TEST(RecordsOfSelectedCards, CardsTakenFromTheFrontShiftTheRecords) {
  // Two cards were delivered: the rest moved down by two records.
  const auto shown = Cards({{"A", 1}, {"B", 2}, {"C", 3}, {"D", 4}});
  const auto current = Cards({{"C", 1}, {"D", 2}});
  EXPECT_EQ(RecordsOfSelectedCards(shown, current, {2, 3}), (std::vector<int>{1, 2}));
  // A selected card that was delivered is not replaced by another one.
  EXPECT_EQ(RecordsOfSelectedCards(shown, current, {0, 3}), (std::vector<int>{2}));
}

TEST(RecordsOfSelectedCards, DuplicateCardsFollowTheirPlaces) {
  const auto shown = Cards({{"X", 1}, {"X", 2}});
  const auto current = Cards({{"X", 1}});  // the first X was delivered
  EXPECT_TRUE(RecordsOfSelectedCards(shown, current, {0}).empty());
  EXPECT_EQ(RecordsOfSelectedCards(shown, current, {1}), (std::vector<int>{1}));
}

TEST(RecordsOfSelectedCards, NewCardsAtTheEndAndOtherRemovals) {
  const auto shown = Cards({{"A", 1}, {"B", 2}, {"C", 3}});
  // Imported behind: the shown records still hold.
  EXPECT_EQ(RecordsOfSelectedCards(shown, Cards({{"A", 1}, {"B", 2}, {"C", 3}, {"N", 4}}), {1}),
            (std::vector<int>{2}));
  // B is gone from the middle: C is still found, B is not replaced.
  const auto current = Cards({{"A", 1}, {"C", 2}});
  EXPECT_EQ(RecordsOfSelectedCards(shown, current, {1, 2}), (std::vector<int>{2}));
  // Nothing left at all.
  EXPECT_TRUE(RecordsOfSelectedCards(shown, {}, {0, 1, 2}).empty());
  // Rows outside the list are ignored.
  EXPECT_TRUE(RecordsOfSelectedCards(shown, shown, {-1, 3}).empty());
}

}  // namespace
}  // namespace autodeliver
