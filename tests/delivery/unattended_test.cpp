// The delivery left alone with an IM client that goes away and comes back:
// no card is taken while it is away, the undelivered orders go out again
// with their recorded cards once it answers, the status line keeps count;
// and the check of the typed scan interval.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "delivery/cycle.h"
#include "delivery/events.h"
#include "delivery/im_watch.h"
#include "delivery/message_template.h"
#include "delivery/scan_interval.h"
#include "delivery/status_figures.h"
#include "delivery_fixture.h"
#include "store/undelivered_orders.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::SentMessage;

// An IM client that can be away: while away it takes no message, and a look
// at it answers `presence`.
class AwayClient : public MessageSender {
 public:
  bool Send(const std::string& seller, const std::string& buyer, const std::string& message) override {
    ++attempts;
    if (away) return false;
    handed.push_back({seller, buyer, message});
    return true;
  }
  ClientPresence ProbeClient() override { return away ? presenceWhileAway : ClientPresence::kPresent; }

  bool away = false;
  ClientPresence presenceWhileAway = ClientPresence::kAbsent;
  int attempts = 0;
  std::vector<SentMessage> handed;
};

// The orders that waited, with their reason, and the status figures.
class Recorder : public DeliveryStatus {
 public:
  void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) override {
    DeliveryStatus::OrderWaiting(order, reason, stockLeft);
    waiting[order.orderNumber] = reason;
  }
  void CycleStarted() override {
    DeliveryStatus::CycleStarted();
    waiting.clear();
  }
  std::map<std::string, WaitReason> waiting;
};

class UnattendedTest : public testing::DeliveryFixture {
 protected:
  CycleResult Run() { return RunDeliveryCycle(shop(), client_, stop_, &status_, nullptr, &watch_); }
  std::string Line() { return StatusLineText(status_.Figures(), 30); }
  std::vector<std::string> SentOrders() {
    std::vector<std::string> orders;
    for (const SentCard& c : Sent()) orders.push_back(c.orderNumber + ":" + c.cardNumber);
    return orders;
  }

  AwayClient client_;
  Recorder status_;
  ImWatch watch_;
};

// Three orders arrive over three cycles with the IM client away. A client
// that can be looked at sends nothing more after the first failure; one that
// cannot be looked at is tried only with the first order's recorded cards.
// Either way no card of the later orders is taken, and once the client is
// back each order goes out exactly once with its own cards and is consigned.
struct AwayCase {
  ClientPresence presence;
  int attemptsWhileAway;  // sends tried in cycles 2 and 3
};

class UnattendedAwayTest : public UnattendedTest, public ::testing::WithParamInterface<AwayCase> {};

TEST_P(UnattendedAwayTest, OrdersWaitWhileTheClientIsAwayAndGoOnceItIsBack) {
  const AwayCase c = GetParam();
  {
    const std::string card = "点卡"_gbk;
    Monitor(card);
    Stock(card, {{"C1", "1"}, {"C2", "2"}, {"C3", "3"}, {"C4", "4"}});
    client_.away = true;
    client_.presenceWhileAway = c.presence;

    const std::string first = PlaceOrder("点卡", 1, "买家甲");
    CycleResult r = Run();
    EXPECT_TRUE(r.imNotAnswering);
    EXPECT_EQ(r.ordersUndelivered, 1);
    EXPECT_EQ(SentOrders(), std::vector<std::string>{first + ":C1"});
    EXPECT_NE(Line().find("阿里旺旺未响应 | "), std::string::npos) << Line();
    EXPECT_NE(Line().find("今日发货 0 笔 | 未送达 1 笔"), std::string::npos) << Line();

    const std::string second = PlaceOrder("点卡", 1, "买家乙");
    Run();
    const std::string third = PlaceOrder("点卡", 1, "买家丙");
    r = Run();
    EXPECT_EQ(client_.attempts, 1 + c.attemptsWhileAway);
    EXPECT_EQ(status_.waiting[second], WaitReason::kImNotAnswering);
    EXPECT_EQ(status_.waiting[third], WaitReason::kImNotAnswering);
    EXPECT_EQ(SentOrders(), std::vector<std::string>{first + ":C1"});
    EXPECT_EQ(StockNumbers(card), (std::vector<std::string>{"C2", "C3", "C4"}));
    EXPECT_TRUE(Consigned().empty());
    EXPECT_EQ(r.ordersWaiting, c.presence == ClientPresence::kAbsent ? 3 : 2);
    EXPECT_NE(Line().find("今日发货 0 笔 | 未送达 1 笔"), std::string::npos) << Line();

    client_.away = false;
    r = Run();
    EXPECT_FALSE(r.imNotAnswering);
    EXPECT_EQ(r.ordersRetried, 1);
    EXPECT_EQ(r.ordersDelivered, 2);
    EXPECT_EQ(r.ordersUndelivered, 0);
    // One message per order, each with its own cards; the first order's
    // message is the one its recorded card made.
    std::map<std::string, std::string> byBuyer;
    for (const SentMessage& m : client_.handed) byBuyer[m.buyer] += m.message;
    ASSERT_EQ(client_.handed.size(), 3u);
    EXPECT_NE(byBuyer["买家甲"_gbk].find("卡号：C1 卡密：1"_gbk), std::string::npos);
    EXPECT_NE(byBuyer["买家乙"_gbk].find("卡号：C"_gbk), std::string::npos);
    EXPECT_NE(byBuyer["买家丙"_gbk].find("卡号：C"_gbk), std::string::npos);
    EXPECT_EQ(Sent().size(), 3u);
    EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C4"});
    std::vector<std::string> consigned = Consigned();
    std::sort(consigned.begin(), consigned.end());
    std::vector<std::string> all = {first, second, third};
    std::sort(all.begin(), all.end());
    EXPECT_EQ(consigned, all);
    EXPECT_TRUE(UndeliveredOrders(shop()).List().empty());
    EXPECT_NE(Line().find("今日发货 3 笔 | 等待补货"), std::string::npos) << Line();

    // Nothing goes out twice on the next cycle.
    Run();
    EXPECT_EQ(client_.handed.size(), 3u);
  }
}

INSTANTIATE_TEST_SUITE_P(LookedAtOrNot, UnattendedAwayTest,
                         ::testing::Values(AwayCase{ClientPresence::kAbsent, 0},
                                           AwayCase{ClientPresence::kUnknown, 2}));

// A client that looks present but never takes the message: the order is
// retried once per cycle up to the cap, then left marked for the seller.
TEST_F(UnattendedTest, RetriesStopAtTheCapAndTheOrderStaysMarked) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}, {"C2", "2"}});
  const std::string order = PlaceOrder("点卡", 1, "买家甲");
  client_.away = true;
  client_.presenceWhileAway = ClientPresence::kPresent;
  Run();  // the first message fails
  for (int i = 0; i < ImWatch::kMaxRetries + 2; ++i) Run();
  EXPECT_EQ(client_.attempts, 1 + ImWatch::kMaxRetries);
  EXPECT_EQ(status_.waiting[order], WaitReason::kRetriesUsedUp);
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked(order));
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C2"});
}

using MessageTemplateTest = testing::DeliveryFixture;

// Without a template the buyer gets the usual message, byte for byte; with
// one, the placeholders are filled (a value that looks like a placeholder is
// left alone) and a cycle sends it; a template too long for the chat window
// is refused and the stored one stays; an empty one removes it.
TEST_F(MessageTemplateTest, PlaceholdersFilledAndTheUsualMessageWithoutATemplate) {
  const std::string card = "点卡"_gbk;
  const std::vector<DeliveredCard> cards = {{"C1", "1"}, {"C2", "2"}};
  EXPECT_EQ(BuyerMessage(shop(), card, "1001", cards, 2),
            "您购买的 点卡 卡号信息如下\r\n\r\n卡号：C1 卡密：1\r\n卡号：C2 卡密：2\r\n"_gbk);

  const std::string tmpl =
      "亲，{宝贝名称}（订单 {订单编号}，共 {数量} 张）：\r\n{卡密}充值地址：http://pay.example/\\x\t{"_gbk;
  EXPECT_EQ(
      FillMessageTemplate(tmpl, "{数量}"_gbk, "1001", cards, 2),
      "亲，{数量}（订单 1001，共 2 张）：\r\n卡号：C1 卡密：1\r\n卡号：C2 卡密：2\r\n充值地址：http://pay.example/\\x\t{"_gbk);

  ASSERT_EQ(SetMessageTemplate(shop(), card, tmpl), TemplateSave::kSaved);
  EXPECT_EQ(MessageTemplateOf(shop(), card), tmpl);  // backslash, CR, LF and TAB kept through the row
  EXPECT_FALSE(MessageTemplateOf(shop(), "点卡2"_gbk).has_value());
  Monitor(card);
  Stock(card, {{"C1", "1"}});
  const std::string order = PlaceOrder("点卡", 1, "买家甲");
  Cycle();
  ASSERT_EQ(sender_.sent.size(), 1u);
  EXPECT_EQ(sender_.sent[0].message, FillMessageTemplate(tmpl, card, order, {{"C1", "1"}}, 1));

  EXPECT_EQ(SetMessageTemplate(shop(), card, std::string(kMaxChatMessageBytes - kCardLinesRoom + 1, 'x')),
            TemplateSave::kTooLong);
  EXPECT_EQ(MessageTemplateOf(shop(), card), tmpl);
  ASSERT_EQ(SetMessageTemplate(shop(), card, ""), TemplateSave::kSaved);
  EXPECT_FALSE(MessageTemplateOf(shop(), card).has_value());
  EXPECT_EQ(BuyerMessage(shop(), card, "1001", cards, 2), DeliveryMessage(card, cards));
}

TEST(ScanIntervalTest, AcceptsWholeSecondsFromTheMinimumAndRefusesTheRest) {
  const struct {
    const char* typed;  // UTF-8
    int seconds;        // 0: refused
  } kCases[] = {
      {"30", 30},
      {" 30 ", 30},
      {"３０", 30},
      {"5", 5},
      {"86400", 86400},
      {"0030", 30},
      {"", 0},
      {"   ", 0},
      {"0", 0},
      {"-5", 0},
      {"4", 0},
      {"abc", 0},
      {"10秒", 0},
      {"1 0", 0},
      {"2.5", 0},
      {"86401", 0},
      {"99999999999999999999", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.typed);
    const ScanIntervalCheck check = CheckScanInterval(Utf8ToGbkLossy(c.typed));
    if (c.seconds > 0) {
      EXPECT_EQ(check.seconds, c.seconds);
      EXPECT_TRUE(check.refusal.empty());
    } else {
      EXPECT_FALSE(check.seconds.has_value());
      EXPECT_FALSE(check.refusal.empty());
    }
  }
}

TEST(UnattendedStatusLineTest, SaysWhenTheDeliveryIsOffAndWhatWasNotDelivered) {
  DeliveryStatusFigures f;
  f.deliveredToday = 4;
  f.undelivered = 2;
  EXPECT_EQ(StatusLineText(f, -1), "尚未扫描 | 今日发货 4 笔 | 未送达 2 笔 | 等待补货 0 笔 | 自动发货未开启");
  f.undelivered = 0;
  EXPECT_EQ(StatusLineText(f, 12), "尚未扫描 | 今日发货 4 笔 | 等待补货 0 笔 | 下次扫描 12 秒后");
}

}  // namespace
}  // namespace autodeliver
