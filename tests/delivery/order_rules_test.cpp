// The order rules' decision, with a clock of the test's own, and their two
// files in a temporary data folder.
#include "delivery/order_rules.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/shop_folder.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

const Clock::time_point kSeen = Clock::from_time_t(1'800'000'000);

PendingOrder Order(const std::string& buyer, int quantity, const std::string& item = "card") {
  return {"1001", item, quantity, buyer, "9001"};
}

RuleClock At(Clock::time_point now, int minuteOfDay = 12 * 60) { return {now, minuteOfDay}; }

TEST(OrderRulesDecision, EachRuleAloneAndCombined) {
  OrderRules none;
  OrderRules blacklist;
  blacklist.blacklist = {"bad"};
  OrderRules limit;
  limit.items["card"] = {true, 0};
  OrderRules large;
  large.items["card"] = {false, 5};
  OrderRules daily;
  daily.dailyCardsPerBuyer = 10;
  OrderRules delay;
  delay.delayMinutes = 30;
  OrderRules quiet;
  quiet.quietHours = QuietHours{23 * 60, 7 * 60};  // 23:00 to 07:00, across midnight
  OrderRules all = blacklist;
  all.items["card"] = {true, 5};
  all.dailyCardsPerBuyer = 10;
  all.delayMinutes = 30;
  all.quietHours = quiet.quietHours;

  const auto facts = [](int limitValue, int ofItem, int today, Approval approval = Approval::kNone) {
    return OrderFacts{limitValue, ofItem, today, kSeen, approval};
  };
  using R = HoldReason;
  const std::optional<HoldReason> deliver;
  const struct {
    const char* name;
    const OrderRules& rules;
    PendingOrder order;
    OrderFacts facts;
    RuleClock clock;
    std::optional<HoldReason> expected;
  } cases[] = {
      {"no rule, any order", none, Order("bad", 999), facts(1, 50, 50), At(kSeen, 0), deliver},
      {"blacklisted buyer", blacklist, Order("bad", 1), facts(0, 0, 0), At(kSeen), R::kBlacklisted},
      {"nick compared exactly", blacklist, Order("bad ", 1), facts(0, 0, 0), At(kSeen), deliver},
      {"blacklist outranks approval", blacklist, Order("bad", 1), facts(0, 0, 0, Approval::kApproved),
       At(kSeen), R::kBlacklisted},
      {"within the limit with earlier cards", limit, Order("b", 2), facts(3, 1, 0), At(kSeen), deliver},
      {"over the limit with earlier cards", limit, Order("b", 2), facts(3, 2, 0), At(kSeen), R::kOverLimit},
      {"limit 0 is no limit", limit, Order("b", 50), facts(0, 9, 0), At(kSeen), deliver},
      {"limit on another item only", limit, Order("b", 9, "other"), facts(3, 0, 0), At(kSeen), deliver},
      {"over the limit, approved", limit, Order("b", 9), facts(3, 0, 0, Approval::kApproved), At(kSeen),
       deliver},
      {"below the approval quantity", large, Order("b", 4), facts(0, 0, 0), At(kSeen), deliver},
      {"at the approval quantity", large, Order("b", 5), facts(0, 0, 0), At(kSeen), R::kAwaitingApproval},
      {"large order approved", large, Order("b", 8), facts(0, 0, 0, Approval::kApproved), At(kSeen), deliver},
      {"large order refused", large, Order("b", 8), facts(0, 0, 0, Approval::kRefused), At(kSeen),
       R::kRefused},
      {"refused small order stays refused", large, Order("b", 1), facts(0, 0, 0, Approval::kRefused),
       At(kSeen), R::kRefused},
      {"daily cards reached exactly", daily, Order("b", 4), facts(0, 0, 6), At(kSeen), deliver},
      {"daily cards exceeded", daily, Order("b", 5), facts(0, 0, 6), At(kSeen), R::kAwaitingApproval},
      {"delay running", delay, Order("b", 1), facts(0, 0, 0), At(kSeen + 29min), R::kDelayed},
      {"delay run out", delay, Order("b", 1), facts(0, 0, 0), At(kSeen + 30min), deliver},
      {"approval skips the delay", delay, Order("b", 1), facts(0, 0, 0, Approval::kApproved), At(kSeen),
       deliver},
      {"quiet before midnight", quiet, Order("b", 1), facts(0, 0, 0), At(kSeen, 23 * 60 + 30),
       R::kQuietHours},
      {"quiet after midnight", quiet, Order("b", 1), facts(0, 0, 0), At(kSeen, 6 * 60 + 59), R::kQuietHours},
      {"quiet hours over", quiet, Order("b", 1), facts(0, 0, 0), At(kSeen, 7 * 60), deliver},
      {"before the quiet hours", quiet, Order("b", 1), facts(0, 0, 0), At(kSeen, 22 * 60 + 59), deliver},
      {"approved still waits out quiet hours", quiet, Order("b", 1), facts(0, 0, 0, Approval::kApproved),
       At(kSeen, 0), R::kQuietHours},
      {"blacklisted and over the limit", all, Order("bad", 9), facts(3, 0, 0), At(kSeen), R::kBlacklisted},
      {"over the limit and large", all, Order("b", 9), facts(3, 0, 0), At(kSeen), R::kOverLimit},
      {"large in quiet hours asks first", all, Order("b", 5), facts(9, 0, 0), At(kSeen, 0),
       R::kAwaitingApproval},
      {"all rules pass", all, Order("b", 1), facts(3, 0, 0), At(kSeen + 1h), deliver},
      {"huge quantity does not wrap", limit, Order("b", 2147483647), facts(3, 5, 0), At(kSeen),
       R::kOverLimit},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecideOrder(c.order, c.rules, c.facts, c.clock), c.expected) << c.name;
  }
}

// The rule files of a fresh shop's data folder.
class OrderRuleFilesTest : public testing::ShopTest {};

TEST_F(OrderRuleFilesTest, RulesSurviveARoundTripWithAwkwardTextsAndForeignLinesStay) {
  const OrderRuleFiles files(shop());
  EXPECT_EQ(files.LoadRules(), OrderRules{}) << "no file: no rule";
  {
    std::ofstream out(files.RulesPath());
    out << "autodeliver order rules 1\nfuture\tthing\n";
  }
  OrderRules rules;
  rules.blacklist = {"tab\there", "back\\slash\nline"};
  rules.items["title\twith tab"] = {true, 3};
  rules.dailyCardsPerBuyer = 20;
  rules.delayMinutes = 15;
  rules.quietHours = QuietHours{1380, 420};
  ASSERT_TRUE(files.SaveRules(rules));
  EXPECT_EQ(files.LoadRules(), rules);
  std::ifstream in(files.RulesPath());
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(content.find("future\tthing\n"), std::string::npos) << content;

  // A file that is not ours is neither read as rules nor overwritten.
  {
    std::ofstream out(files.RulesPath());
    out << "something else\n";
  }
  EXPECT_EQ(files.LoadRules(), std::nullopt);
  const Status refused = files.SaveRules(rules);
  EXPECT_EQ(refused.code(), Status::Code::kCorrupt) << refused.ToString();
  EXPECT_EQ(refused.path(), files.RulesPath());
}

TEST_F(OrderRuleFilesTest, GateHoldsTellsOnceAndLetsTheDelayRunOutBetweenCycles) {
  const OrderRuleFiles files(shop());
  OrderRules rules;
  rules.delayMinutes = 10;
  rules.items["card"] = {false, 5};
  ASSERT_TRUE(files.SaveRules(rules));
  RuleClock now = At(kSeen);
  OrderRuleGate gate(shop(), [&] { return now; });
  const PendingOrder small{"1", "card", 1, "b", "x"}, large{"2", "card", 6, "c", "y"};

  gate.BeginCycle();
  OrderRuleGate::Verdict v = gate.Check(small);
  EXPECT_EQ(v.hold, HoldReason::kDelayed);
  EXPECT_TRUE(v.news);
  EXPECT_EQ(gate.Check(large).hold, HoldReason::kAwaitingApproval);
  gate.EndCycle({small, large}, true);

  now = At(kSeen + 5min);  // the next cycle, the delay still running: not told again
  gate.BeginCycle();
  v = gate.Check(small);
  EXPECT_EQ(v.hold, HoldReason::kDelayed);
  EXPECT_FALSE(v.news);
  gate.EndCycle({small, large}, true);

  ASSERT_TRUE(files.SetApproval("2", Approval::kApproved));
  EXPECT_FALSE(files.SetApproval("3", Approval::kApproved)) << "an order the rules never saw";
  now = At(kSeen + 10min);  // the delay ran out; the large order was approved
  gate.BeginCycle();
  EXPECT_EQ(gate.Check(small).hold, std::nullopt);
  EXPECT_EQ(gate.Check(large).hold, std::nullopt);
  gate.EndCycle({small}, true);  // the large order left the list

  const std::vector<HeldOrder> holds = files.LoadHolds();
  ASSERT_EQ(holds.size(), 1u);
  EXPECT_EQ(holds[0].orderNumber, "1");
  EXPECT_EQ(holds[0].firstSeen, kSeen) << "first seen is kept across cycles";
}

}  // namespace
}  // namespace autodeliver
