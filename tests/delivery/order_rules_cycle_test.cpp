// Whole cycles with order rules against the marketplace imitation: held
// orders keep every card in stock and stay listed, the others go out in the
// same cycle, and the seller's approval or refusal decides the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "delivery/cycle.h"
#include "delivery/events.h"
#include "delivery/order_rules.h"
#include "delivery_fixture.h"
#include "store/shop_paths.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
using OrderRulesCycleTest = testing::DeliveryFixture;

// The holds of each cycle, as "order reason news".
class HeldEvents : public DeliveryEvents {
 public:
  void OrderHeld(const PendingOrder& order, HoldReason reason, bool news) override {
    held.push_back({order.orderNumber, reason, news});
  }
  struct Held {
    std::string order;
    HoldReason reason;
    bool news;
    bool operator==(const Held&) const = default;
  };
  std::vector<Held> held;
};

TEST_F(OrderRulesCycleTest, HeldOrdersKeepTheirCardsWhileTheRestGoOutThenTheSellerDecides) {
  const std::string card = "点卡"_gbk, coin = "Q币"_gbk;
  Monitor(card);
  ASSERT_TRUE(AppendItem(shop(), {coin, "", 2, true}));  // "限拍件数" 2
  Stock(card, {{"C1", "1"},
               {"C2", "2"},
               {"C3", "3"},
               {"C4", "4"},
               {"C5", "5"},
               {"C6", "6"},
               {"C7", "7"},
               {"C8", "8"},
               {"C9", "9"}});
  Stock(coin, {{"Q1", "1"}, {"Q2", "2"}, {"Q3", "3"}});
  OrderRules rules;
  rules.blacklist = {"买家黑"_gbk};
  rules.items[card] = {false, 3};  // three pieces or more wait for approval
  rules.items[coin] = {true, 0};   // the purchase limit is enforced
  ASSERT_TRUE(OrderRuleFiles(shop()).SaveRules(rules));
  RuleClock now{std::chrono::system_clock::now(), 12 * 60};
  OrderRuleGate gate(shop(), [&] { return now; });
  HeldEvents events;
  const auto cycle = [&] {
    return RunDeliveryCycle(shop(), sender_, stop_, &events, nullptr, nullptr, &gate);
  };

  // Page order is newest first: the coin orders are looked at oldest first.
  const std::string coinThird = PlaceOrder("Q币", 1, "买家甲");
  const std::string coinSecond = PlaceOrder("Q币", 1, "买家甲");
  const std::string coinFirst = PlaceOrder("Q币", 1, "买家甲");
  const std::string small = PlaceOrder("点卡", 1, "买家丙");
  const std::string large = PlaceOrder("点卡", 3, "买家乙");
  const std::string blacklisted = PlaceOrder("点卡", 1, "买家黑");
  const std::string other = PlaceOrder("点卡", 2, "买家丁");

  CycleResult result = cycle();
  EXPECT_EQ(result.ordersDelivered, 4);
  EXPECT_EQ(result.ordersHeld, 3);
  using H = HeldEvents::Held;
  // The buyer's third coin goes over the limit of 2 with the two delivered
  // earlier in the same cycle.
  EXPECT_EQ(events.held, (std::vector<H>{{blacklisted, HoldReason::kBlacklisted, true},
                                         {large, HoldReason::kAwaitingApproval, true},
                                         {coinThird, HoldReason::kOverLimit, true}}));
  std::vector<std::string> consigned = Consigned();
  std::sort(consigned.begin(), consigned.end());
  std::vector<std::string> expected{other, small, coinFirst, coinSecond};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(consigned, expected);
  EXPECT_EQ(StockNumbers(card), (std::vector<std::string>{"C4", "C5", "C6", "C7", "C8", "C9"}));
  EXPECT_EQ(StockNumbers(coin), std::vector<std::string>{"Q3"});
  for (const SentCard& s : Sent()) {
    EXPECT_NE(s.orderNumber, large);
    EXPECT_NE(s.orderNumber, blacklisted);
    EXPECT_NE(s.orderNumber, coinThird);
  }

  // Held again, told no more.
  events.held.clear();
  result = cycle();
  EXPECT_EQ(result.ordersDelivered, 0);
  EXPECT_EQ(result.ordersHeld, 3);
  for (const H& h : events.held) EXPECT_FALSE(h.news) << h.order;

  // The seller approves the large order and refuses the third coin.
  const OrderRuleFiles files(shop());
  ASSERT_TRUE(files.SetApproval(large, Approval::kApproved));
  ASSERT_TRUE(files.SetApproval(coinThird, Approval::kRefused));
  events.held.clear();
  result = cycle();
  EXPECT_EQ(result.ordersDelivered, 1);
  EXPECT_EQ(events.held, (std::vector<H>{{blacklisted, HoldReason::kBlacklisted, false},
                                         {coinThird, HoldReason::kRefused, true}}));
  EXPECT_EQ(StockNumbers(card), (std::vector<std::string>{"C7", "C8", "C9"}));
  EXPECT_EQ(StockNumbers(coin), std::vector<std::string>{"Q3"});
  const std::vector<std::string> listed = Listed();
  EXPECT_EQ(std::count(listed.begin(), listed.end(), large), 0) << "approved and consigned";
  EXPECT_EQ(std::count(listed.begin(), listed.end(), blacklisted), 1);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), coinThird), 1) << "refused: left for the marketplace";
  const std::vector<std::string> attempts = ConsignAttempts();
  EXPECT_EQ(std::count(attempts.begin(), attempts.end(), coinThird), 0);
  EXPECT_EQ(std::count(attempts.begin(), attempts.end(), blacklisted), 0);

  // The holds file forgets the orders that left the list.
  std::vector<std::string> remembered;
  for (const HeldOrder& h : files.LoadHolds()) remembered.push_back(h.orderNumber);
  std::sort(remembered.begin(), remembered.end());
  std::vector<std::string> stillListed{blacklisted, coinThird};
  std::sort(stillListed.begin(), stillListed.end());
  EXPECT_EQ(remembered, stillListed);
}

TEST_F(OrderRulesCycleTest, QuietHoursAcrossMidnightAndADelayHoldUntilTheClockMovesOn) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}, {"C2", "2"}});
  OrderRules rules;
  rules.quietHours = QuietHours{23 * 60, 6 * 60};
  rules.delayMinutes = 10;
  ASSERT_TRUE(OrderRuleFiles(shop()).SaveRules(rules));
  const auto start = std::chrono::system_clock::now();
  RuleClock now{start, 23 * 60 + 50};
  OrderRuleGate gate(shop(), [&] { return now; });
  HeldEvents events;
  const auto cycle = [&] {
    return RunDeliveryCycle(shop(), sender_, stop_, &events, nullptr, nullptr, &gate);
  };
  const std::string order = PlaceOrder("点卡", 1, "买家甲");

  EXPECT_EQ(cycle().ordersHeld, 1);
  now = {start + 20min, 10};  // past midnight, still quiet; the delay ran out
  EXPECT_EQ(cycle().ordersHeld, 1);
  ASSERT_EQ(events.held.size(), 2u);
  EXPECT_EQ(events.held[1].reason, HoldReason::kQuietHours);
  EXPECT_TRUE(Consigned().empty());
  EXPECT_EQ(StockNumbers(card).size(), 2u);

  now = {start + 7h, 6 * 60};
  EXPECT_EQ(cycle().ordersDelivered, 1);
  EXPECT_EQ(Consigned(), std::vector<std::string>{order});
}

TEST_F(OrderRulesCycleTest, WithoutRulesTheCycleLeavesNoFileBehind) {
  Monitor("点卡"_gbk);
  Stock("点卡"_gbk, {{"C1", "1"}});
  PlaceOrder("点卡", 1, "买家甲");
  EXPECT_EQ(Cycle().ordersDelivered, 1);
  EXPECT_FALSE(std::filesystem::exists(OrderRuleFiles(shop()).HoldsPath()));
}

}  // namespace
}  // namespace autodeliver
