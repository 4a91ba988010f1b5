// Desktop notifications: the policy that tells a problem once and not at
// every scan, the seller's switches in the settings table, and the
// notifier checked against a recording notification service on a private
// session D-Bus, alone and behind whole delivery cycles on the marketplace
// imitation.
#include <gtest/gtest.h>

#include "delivery/cycle.h"
#include "delivery/desktop_notifier.h"
#include "delivery/fan_out.h"
#include "delivery/login_watch.h"
#include "delivery/notification_policy.h"
#include "delivery/notification_settings.h"
#include "delivery_fixture.h"
#include "notification_bus.h"
#include "store/settings.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::JsonStrings;

class RecordingNotifier : public Notifier {
 public:
  void Notify(const Notification& n) override { told.push_back(n); }
  std::vector<NotificationKind> Kinds() const {
    std::vector<NotificationKind> kinds;
    for (const Notification& n : told) kinds.push_back(n.kind);
    return kinds;
  }
  std::vector<Notification> told;
};

// Feeds a policy the events of cycles, as the delivery cycle would.
class PolicyTest : public ::testing::Test {
 protected:
  PolicyTest() : policy_(&notifier_, [this](NotificationKind k) { return enabled_[static_cast<int>(k)]; }) {}

  void Cycle(const std::vector<PendingOrder>& waiting, ScanOutcome outcome = ScanOutcome::kListed,
             bool imFailure = false) {
    OrderScan scan;
    scan.outcome = outcome;
    policy_.OrdersScanned(scan);
    for (const PendingOrder& o : waiting) policy_.OrderWaiting(o, WaitReason::kStockShort, 0);
    CycleResult result;
    result.scanOutcome = outcome;
    result.endedAtImFailure = imFailure;
    policy_.CycleEnded(result);
  }
  // The kinds told since the last call.
  std::vector<NotificationKind> Told() {
    std::vector<NotificationKind> kinds = notifier_.Kinds();
    notifier_.told.clear();
    return kinds;
  }

  bool enabled_[std::size(kAllNotificationKinds)] = {true, true, true, true, true, true};
  RecordingNotifier notifier_;
  NotificationPolicy policy_;
  const PendingOrder a_{"1001", "点卡"_gbk, 3, "买家甲"_gbk, "9"};
  const PendingOrder b_{"1002", "点卡"_gbk, 1, "买家乙"_gbk, "9"};
};

using K = NotificationKind;
using Kinds = std::vector<NotificationKind>;

TEST_F(PolicyTest, AnOrderWaitingForStockIsToldTheFirstTimeOnly) {
  // The orders told, by number, since the last call.
  auto toldOrders = [this] {
    std::vector<std::string> numbers;
    for (const Notification& n : notifier_.told) {
      EXPECT_EQ(n.kind, K::kWaitingForStock);
      numbers.push_back(n.body.substr(n.body.find(' ') + 1, 4));
    }
    notifier_.told.clear();
    return numbers;
  };
  using Numbers = std::vector<std::string>;
  Cycle({a_});
  EXPECT_EQ(toldOrders(), Numbers{"1001"});
  Cycle({a_});
  Cycle({a_, b_});
  EXPECT_EQ(toldOrders(), Numbers{"1002"});
  // A cycle that did not see the whole list forgets nothing.
  Cycle({}, ScanOutcome::kNoAnswer);
  Cycle({}, ScanOutcome::kListed, /*imFailure=*/true);
  Cycle({a_, b_});
  EXPECT_EQ(toldOrders(), Numbers{});
  // Once a stopped waiting (its stock came), waiting again is news.
  Cycle({b_});
  Cycle({a_, b_});
  EXPECT_EQ(toldOrders(), Numbers{"1001"});
}

TEST_F(PolicyTest, ProblemsAreToldOnceUntilTheyGoAway) {
  const std::string coin = "Q币"_gbk;
  PendingOrder coinOrder = a_;
  coinOrder.itemTitle = coin;
  policy_.SetWarningLevel([&](const std::string& item) { return item == coin ? 2 : 0; });
  auto delivered = [&](const PendingOrder& o, int cards, int left) {
    policy_.CardsDelivered(o, std::vector<DeliveredCard>(cards, DeliveredCard{"n", "p"}));
    policy_.StockAfterDelivery(o, left);
  };
  const struct {
    std::function<void()> event;
    Kinds told;
  } steps[] = {
      {[&] { delivered(a_, 1, 1); }, {}},
      {[&] { delivered(a_, 1, 0); }, {K::kStockWarning}},         // the last card went out
      {[&] { delivered(b_, 0, 0); }, {}},                         // still at its level: not again
      {[&] { delivered(coinOrder, 3, 2); }, {K::kStockWarning}},  // from 5 to its level 2
      {[&] { delivered(coinOrder, 1, 1); }, {}},
      {[&] { delivered(a_, 2, 0); }, {K::kStockWarning}},  // restocked to 2, then emptied again
      {[&] { Cycle({}, ScanOutcome::kUnpaired); }, {K::kPageUnpaired}},
      {[&] { Cycle({}, ScanOutcome::kUnpaired); }, {}},
      {[&] { Cycle({}, ScanOutcome::kNoAnswer); }, {}},
      {[&] { Cycle({}, ScanOutcome::kUnpaired); }, {}},
      {[&] { Cycle({}, ScanOutcome::kListed); }, {}},
      {[&] { Cycle({}, ScanOutcome::kUnpaired); }, {K::kPageUnpaired}},
      {[&] { policy_.MessageHanded(a_, true); }, {}},
      {[&] { policy_.MessageHanded(a_, false); }, {K::kImFailed}},
      {[&] { policy_.MessageHanded(b_, false); }, {K::kImFailed}},
      {[&] { policy_.LoginStateChanged(true); }, {K::kLoginExpired}},
      {[&] { policy_.LoginStateChanged(false); }, {}},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    steps[i].event();
    EXPECT_EQ(Told(), steps[i].told) << "step " << i;
  }
}

TEST_F(PolicyTest, SwitchedOffKindsAreNotToldAndBringNoFloodWhenSwitchedOn) {
  enabled_[static_cast<int>(K::kWaitingForStock)] = false;
  Cycle({a_});
  policy_.MessageHanded(a_, false);
  EXPECT_EQ(Told(), Kinds{K::kImFailed});
  enabled_[static_cast<int>(K::kWaitingForStock)] = true;
  Cycle({a_});
  EXPECT_EQ(Told(), Kinds{});  // a was waiting already
  policy_.SetNotifier(nullptr);
  Cycle({b_});
  EXPECT_EQ(Told(), Kinds{});
}

// The program counts the stock itself and tells each crossing through
// TellStockWarning; the delivery check, given a level no stock reaches,
// then tells none of its own.
TEST_F(PolicyTest, StockWarningsFromTheProgramsCountUnderTheSwitch) {
  policy_.SetWarningLevel([](const std::string&) { return -1; });
  policy_.CardsDelivered(a_, std::vector<DeliveredCard>(1, DeliveredCard{"n", "p"}));
  policy_.StockAfterDelivery(a_, 0);
  EXPECT_EQ(Told(), Kinds{});
  policy_.TellStockWarning("库存预警：宝贝“点卡”只剩 0 张卡密（预警线 5 张）");
  ASSERT_EQ(notifier_.told.size(), 1u);
  EXPECT_EQ(notifier_.told[0].kind, K::kStockWarning);
  EXPECT_EQ(notifier_.told[0].summary, "库存预警");
  EXPECT_EQ(notifier_.told[0].body, "库存预警：宝贝“点卡”只剩 0 张卡密（预警线 5 张）");
  Told();
  enabled_[static_cast<int>(K::kStockWarning)] = false;
  policy_.TellStockWarning("x");
  EXPECT_EQ(Told(), Kinds{});
}

TEST_F(PolicyTest, EachHeldOrderIsItsOwnSubjectSoTheSecondIsNoRepeat) {
  policy_.OrderHeld(a_, HoldReason::kBlacklisted, true);
  policy_.OrderHeld(b_, HoldReason::kBlacklisted, true);
  policy_.OrderHeld(b_, HoldReason::kDelayed, true);  // a delay is no news for the phone
  ASSERT_EQ(notifier_.told.size(), 2u);
  EXPECT_EQ(notifier_.told[0].kind, K::kOrderHeld);
  EXPECT_EQ(notifier_.told[0].subject, "1001");
  EXPECT_EQ(notifier_.told[1].subject, "1002");
  EXPECT_NE(notifier_.told[1].body.find("1002"), std::string::npos);
}

TEST_F(PolicyTest, TextsNameTheOrderTheBuyerAndTheCounts) {
  policy_.OrderWaiting(a_, WaitReason::kStockShort, 1);
  policy_.MessageHanded(b_, false);
  ASSERT_EQ(notifier_.told.size(), 2u);
  EXPECT_EQ(notifier_.told[0].summary, "订单等待补货");
  EXPECT_EQ(notifier_.told[0].body,
            "订单 1001（买家 买家甲）的宝贝“点卡”库存不足：库存 1 张，需要 3 张。补货后下一轮自动发货。");
  EXPECT_EQ(notifier_.told[1].summary, "旺旺消息未送出");
  EXPECT_NE(notifier_.told[1].body.find("订单 1002"), std::string::npos);
  EXPECT_NE(notifier_.told[1].body.find("买家 买家乙"), std::string::npos);
}

// ---- the switches in the settings table and the notifier on a bus

class NotificationDeliveryTest : public testing::DeliveryFixture {};

TEST_F(NotificationDeliveryTest, SwitchesAreNewSettingsRowsAndOnByDefault) {
  for (NotificationKind kind : kAllNotificationKinds) EXPECT_TRUE(NotificationEnabled(shop(), kind));
  ASSERT_TRUE(SetNotificationEnabled(shop(), K::kImFailed, false));
  ASSERT_TRUE(SetNotificationEnabled(shop(), K::kStockWarning, false));
  ASSERT_TRUE(SetNotificationEnabled(shop(), K::kStockWarning, true));
  EXPECT_FALSE(NotificationEnabled(shop(), K::kImFailed));
  EXPECT_TRUE(NotificationEnabled(shop(), K::kStockWarning));
  EXPECT_TRUE(NotificationEnabled(shop(), K::kLoginExpired));
  EXPECT_EQ(GetSetting(shop(), "通知:旺旺消息未送出"_gbk), "0");
  EXPECT_EQ(GetSetting(shop(), "通知:库存预警"_gbk), "1");
  EXPECT_EQ(GetSetting(shop(), "阿里旺旺核心文件路径"_gbk), "");  // the installed row as it was
}

TEST(DesktopNotifierTest, NotificationsReachTheServiceOnTheBus) {
  testing::NotificationBus bus;
  ASSERT_TRUE(bus.ok()) << "no private bus or notification service";
  DesktopNotifier notifier(bus.address());
  notifier.Notify({K::kImFailed, "旺旺消息未送出", "订单 1001 <b>&</b>", {}});
  notifier.Notify({K::kWaitingForStock, "订单等待补货", "第二条", {}});
  ASSERT_TRUE(notifier.WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(notifier.shown(), 2);
  EXPECT_EQ(notifier.failed(), 0);

  const std::optional<std::string> first = bus.NextNotification();
  ASSERT_TRUE(first);
  EXPECT_EQ(JsonStrings(*first, "app_name"), std::vector<std::string>{"自动发货"});
  EXPECT_EQ(JsonStrings(*first, "summary"), std::vector<std::string>{"旺旺消息未送出"});
  // A service without markup gets the text as it is.
  EXPECT_EQ(JsonStrings(*first, "body"), std::vector<std::string>{"订单 1001 <b>&</b>"});
  EXPECT_EQ(JsonStrings(*first, "urgency"), std::vector<std::string>{"byte 0x02"});
  // The desktop entry and icon as installed, named by the application id.
  EXPECT_EQ(JsonStrings(*first, "desktop-entry"), std::vector<std::string>{AUTODELIVER_APP_ID});
  EXPECT_EQ(JsonStrings(*first, "app_icon"), std::vector<std::string>{AUTODELIVER_APP_ID});
  const std::optional<std::string> second = bus.NextNotification();
  ASSERT_TRUE(second);
  EXPECT_EQ(JsonStrings(*second, "body"), std::vector<std::string>{"第二条"});
  EXPECT_EQ(JsonStrings(*second, "urgency"), std::vector<std::string>{"byte 0x01"});
}

TEST(DesktopNotifierTest, MarkupIsEscapedForAServiceThatReadsIt) {
  testing::NotificationBus bus(/*markup=*/true);
  ASSERT_TRUE(bus.ok());
  DesktopNotifier notifier(bus.address());
  notifier.Notify({K::kPageUnpaired, "订单页无法识别", "宝贝“<i>A&B</i>”", {}});
  const std::optional<std::string> line = bus.NextNotification();
  ASSERT_TRUE(line);
  EXPECT_EQ(JsonStrings(*line, "body"), std::vector<std::string>{"宝贝“&lt;i&gt;A&amp;B&lt;/i&gt;”"});
}

TEST(DesktopNotifierTest, WithoutAServiceNotificationsAreDroppedQuietly) {
  testing::NotificationBus bus(false, /*withService=*/false);
  ASSERT_TRUE(bus.ok());
  for (const std::string& address : {bus.address(), std::string("unix:path=/nonexistent/bus")}) {
    DesktopNotifier notifier(address);
    notifier.Notify({K::kLoginExpired, "淘宝登录已失效", "x", {}});
    ASSERT_TRUE(notifier.WaitIdle(std::chrono::seconds(20)));
    EXPECT_EQ(notifier.shown(), 0) << address;
    EXPECT_EQ(notifier.failed(), 1) << address;
  }
}

TEST_F(NotificationDeliveryTest, CyclesTellTheDesktopOfAnImFailureAndAnExpiredLogin) {
  testing::NotificationBus bus;
  ASSERT_TRUE(bus.ok()) << "no private bus or notification service";
  DesktopNotifier notifier(bus.address());
  NotificationPolicy policy(&notifier,
                            StoredNotificationSwitches(shop()));  // switches read from the settings table
  LoginWatch watch;
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "PW-1"}});
  const std::string order = PlaceOrder("点卡", 1, "买家甲");
  const std::string waiting = PlaceOrder("点卡", 5, "买家乙");
  sender_.handedOver = false;

  // The newer order waits for stock; the older one takes the last card
  // (the stock reaches its warning level) and loses its message.
  RunDeliveryCycle(shop(), sender_, stop_, &policy, &watch);
  auto next = [&bus](const std::string& summary) {
    const std::optional<std::string> line = bus.NextNotification();
    EXPECT_TRUE(line) << "nothing told, expected " << summary;
    if (line) {
      EXPECT_EQ(JsonStrings(*line, "summary"), std::vector<std::string>{summary}) << *line;
    }
    return line.value_or("");
  };
  EXPECT_NE(next("订单等待补货").find("订单 " + waiting + "（买家 买家乙）"), std::string::npos);
  EXPECT_NE(next("库存预警").find("点卡"), std::string::npos);
  const std::string failed = next("旺旺消息未送出");
  EXPECT_NE(failed.find("订单 " + order), std::string::npos) << failed;
  EXPECT_NE(failed.find("买家甲"), std::string::npos);
  EXPECT_EQ(failed.find("PW-1"), std::string::npos);

  // Switched off in the settings table, an IM failure stays quiet; the
  // expired login is told once, after the second cycle that saw the sign-in
  // page.
  ASSERT_TRUE(SetNotificationEnabled(shop(), K::kImFailed, false));
  Stock(card, {{"C2", "PW-2"}});
  PlaceOrder("点卡", 1, "买家丙");
  RunDeliveryCycle(shop(), sender_, stop_, &policy, &watch);
  next("库存预警");  // restocked and emptied again
  sim_.Post("/_sim/expire_sessions");
  for (int i = 0; i < 3; ++i) RunDeliveryCycle(shop(), sender_, stop_, &policy, &watch);
  next("淘宝登录已失效");
  ASSERT_TRUE(notifier.WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(notifier.shown(), 5);
  EXPECT_FALSE(bus.NextNotification(std::chrono::milliseconds(200)));
}

}  // namespace
}  // namespace autodeliver
