// The resend of a delivered order against the marketplace imitation: the
// very message of the first delivery, no card taken from the stock, the
// order consigned only when it is still listed, the not-delivered mark
// cleared only when the message went out; and the lines the delivery log
// writes about it. Several orders at once: each its own cards to its own
// buyer, a failure ending the batch; every marked order still listed.
#include "delivery/resend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "delivery/controller.h"
#include "delivery/events.h"
#include "delivery/wording.h"
#include "delivery_fixture.h"
#include "store/undelivered_orders.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using ResendTest = testing::DeliveryFixture;

class ResendEvents : public DeliveryEvents {
 public:
  void OrderResent(const ResendResult& result) override { results.push_back(result); }
  std::vector<ResendResult> results;
};

std::string Joined(const std::vector<WordedLine>& lines) {
  std::string text;
  for (const WordedLine& line : lines)
    text += line.text + (line.level == LineLevel::kWarning ? " [W]\n" : "\n");
  return text;
}

TEST_F(ResendTest, LostFirstMessageIsResentUnchangedAndTheOrderConsigned) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"CARD0001", "p1"}, {"CARD0002", "p2"}, {"CARD0003", "p3"}});
  const std::string order = PlaceOrder("点卡", 2, "买家甲");
  sender_.handedOver = false;  // the IM client is away
  ASSERT_TRUE(Cycle().endedAtImFailure);
  ASSERT_TRUE(UndeliveredOrders(shop()).IsMarked(order));
  ASSERT_EQ(Listed(), std::vector<std::string>{order});

  sender_.handedOver = true;
  ResendEvents events;
  const ResendResult result = ResendOrder(shop(), order, sender_, &events);
  EXPECT_EQ(result.outcome, ResendOutcome::kResent);
  // The same message, byte for byte, to the same buyer from the same seller.
  ASSERT_EQ(sender_.sent.size(), 2u);
  EXPECT_EQ(sender_.sent[1], sender_.sent[0]);
  EXPECT_EQ(sender_.sent[1].message, DeliveryMessage(card, {{"CARD0001", "p1"}, {"CARD0002", "p2"}}));
  EXPECT_EQ(ResendMessage(shop(), result), sender_.sent[1].message);
  // No card taken, nothing written to the sent cards.
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"CARD0003"});
  EXPECT_EQ(Sent().size(), 2u);
  // Consigned with the listed order id, and no longer marked.
  EXPECT_TRUE(result.stillListed);
  EXPECT_TRUE(result.consignAnswered);
  EXPECT_FALSE(result.order.orderId.empty());
  EXPECT_EQ(Consigned(), std::vector<std::string>{order});
  EXPECT_TRUE(Listed().empty());
  EXPECT_TRUE(result.wasMarked);
  EXPECT_TRUE(result.markCleared);
  EXPECT_FALSE(UndeliveredOrders(shop()).IsMarked(order));
  ASSERT_EQ(events.results.size(), 1u);
  EXPECT_EQ(events.results[0].outcome, ResendOutcome::kResent);

  // The log's words: the cards shortened, never a password.
  const std::string lines = Joined(WordOrderResent(result));
  EXPECT_NE(lines.find("已把记录中的 2 张卡密重新交给旺旺发给买家（卡号 CARD…01、CARD…02）"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("已向淘宝提交发货（无需物流）；已清除未送达标记"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("p1"), std::string::npos);
  EXPECT_EQ(lines.find("[W]"), std::string::npos);

  // A second resend (the buyer lost it again) sends again and consigns
  // nothing more.
  const ResendResult again = ResendOrder(shop(), order, sender_);
  EXPECT_EQ(again.outcome, ResendOutcome::kResent);
  EXPECT_EQ(sender_.sent.size(), 3u);
  EXPECT_FALSE(again.stillListed);
  EXPECT_EQ(again.listing, ScanOutcome::kListed);
  EXPECT_EQ(ConsignAttempts(), std::vector<std::string>{order});
  EXPECT_NE(Joined(WordOrderResent(again)).find("订单已不在等待发货列表中"), std::string::npos);
}

TEST_F(ResendTest, NothingChangesUnlessTheMessageWentOut) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "p1"}, {"C2", "p2"}});
  const std::string order = PlaceOrder("点卡", 1, "买家乙");
  sender_.handedOver = false;
  ASSERT_TRUE(Cycle().endedAtImFailure);

  // The IM client still does not take it: the mark stays, no consign.
  ResendResult result = ResendOrder(shop(), order, sender_);
  EXPECT_EQ(result.outcome, ResendOutcome::kNotHanded);
  EXPECT_EQ(sender_.sent.size(), 2u);
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked(order));
  EXPECT_TRUE(ConsignAttempts().empty());
  EXPECT_NE(Joined(WordOrderResent(result)).find("买家仍未收到，订单仍记为未送达 [W]"), std::string::npos);

  // The seller's nick cannot be read: nothing is sent.
  sender_.handedOver = true;
  setenv("AUTODELIVER_MEMBER_HOST", "127.0.0.1:1", 1);
  result = ResendOrder(shop(), order, sender_);
  setenv("AUTODELIVER_MEMBER_HOST", sim_.host().c_str(), 1);
  EXPECT_EQ(result.outcome, ResendOutcome::kSellerNickUnreadable);
  EXPECT_EQ(sender_.sent.size(), 2u);
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked(order));

  // An order without recorded cards: nothing is sent.
  result = ResendOrder(shop(), "999999", sender_);
  EXPECT_EQ(result.outcome, ResendOutcome::kNoRecordedCards);
  EXPECT_EQ(sender_.sent.size(), 2u);
  EXPECT_NE(Joined(WordOrderResent(result)).find("订单 999999：已发卡密中没有这笔订单的卡密"),
            std::string::npos);

  // The message goes out but the order list cannot be read afterwards: the
  // mark clears (the buyer has the cards), nothing is consigned blindly,
  // and the seller is told to look.
  sender_.onSend = [] { setenv("AUTODELIVER_LOGISTICS_HOST", "127.0.0.1:1", 1); };
  result = ResendOrder(shop(), order, sender_);
  setenv("AUTODELIVER_LOGISTICS_HOST", sim_.host().c_str(), 1);
  EXPECT_EQ(result.outcome, ResendOutcome::kResent);
  EXPECT_EQ(result.listing, ScanOutcome::kNoAnswer);
  EXPECT_FALSE(result.stillListed);
  EXPECT_TRUE(ConsignAttempts().empty());
  EXPECT_FALSE(UndeliveredOrders(shop()).IsMarked(order));
  EXPECT_NE(Joined(WordOrderResent(result)).find("读不到等待发货的订单列表，无法确认是否还需提交发货"),
            std::string::npos);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C2"});
}

// A resend the seller starts tells the deliveries what it learnt: after a
// message the IM client did not take, the next cycle takes no new card
// until the client is found again.
class ProbedSender : public testing::FakeSender {
 public:
  ClientPresence ProbeClient() override { return presence; }
  ClientPresence presence = ClientPresence::kPresent;
};

class NoWindow : public DeliveryWindow {
 public:
  void RefreshAfterDelivery() override {}
  void SetTimerInterval(int) override {}
};

TEST_F(ResendTest, AFailedResendFromThePageStopsNewCardsUntilTheClientIsBack) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "p1"}, {"C2", "p2"}, {"C3", "p3"}});
  const std::string first = PlaceOrder("点卡", 1, "买家甲");
  sender_.handedOver = false;
  ASSERT_TRUE(Cycle().endedAtImFailure);  // marked, outside the controller

  ProbedSender sender;
  NoWindow window;
  DeliveryController controller(shop(), window, sender);
  const auto resend = [&](const std::string& order) {
    std::promise<ResendBatch> done;
    EXPECT_EQ(controller.StartResend({{order}, false}, [&](const ResendBatch& b) { done.set_value(b); }),
              DeliveryController::ResendStart::kStarted);
    std::future<ResendBatch> batch = done.get_future();
    EXPECT_EQ(batch.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    controller.WaitForCycle();
    return batch.get();
  };
  const auto cycle = [&] {
    controller.OnTick();
    controller.WaitForCycle();
    return controller.LastCycleResult();
  };

  // The client has gone: the seller's resend does not get through.
  sender.handedOver = false;
  sender.presence = ClientPresence::kAbsent;
  ASSERT_EQ(resend(first).results.at(0).outcome, ResendOutcome::kNotHanded);
  const std::string second = PlaceOrder("点卡", 1, "买家乙");
  CycleResult result = cycle();
  EXPECT_EQ(result.ordersDelivered, 0);
  EXPECT_EQ(result.ordersWaiting, 2);
  EXPECT_EQ(StockNumbers(card), (std::vector<std::string>{"C2", "C3"}));
  EXPECT_FALSE(UndeliveredOrders(shop()).IsMarked(second));
  EXPECT_EQ(sender.sent.size(), 1u);

  // Back: the first order goes again with its cards, the second with new ones.
  sender.handedOver = true;
  sender.presence = ClientPresence::kPresent;
  result = cycle();
  EXPECT_EQ(result.ordersRetried, 1);
  EXPECT_EQ(result.ordersDelivered, 1);
  EXPECT_TRUE(Listed().empty());
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C3"});
  EXPECT_TRUE(UndeliveredOrders(shop()).List().empty());
}

class ResendBatchTest : public testing::DeliveryFixture {
 protected:
  // Three orders whose messages were lost, one per cycle; returns their
  // numbers in the order they were delivered (and marked), the message of
  // orders[i] left in sender_.sent[i].
  std::vector<std::string> LoseThree() {
    Monitor("点卡"_gbk);
    Stock("点卡"_gbk, {{"K1", "p1"}, {"K2", "p2"}, {"K3", "p3"}, {"K4", "p4"}, {"K5", "p5"}});
    PlaceOrder("点卡", 1, "买家甲");
    PlaceOrder("点卡", 2, "买家乙");
    PlaceOrder("点卡", 1, "买家丙");
    sender_.handedOver = false;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Cycle().endedAtImFailure);
    std::vector<std::string> orders;
    const std::vector<UndeliveredOrder> marks = UndeliveredOrders(shop()).List();
    EXPECT_EQ(marks.size(), 3u);
    EXPECT_EQ(sender_.sent.size(), 3u);
    for (std::size_t i = 0; i < marks.size() && i < sender_.sent.size(); ++i) {
      orders.push_back(marks[i].orderNumber);
      EXPECT_EQ(sender_.sent[i].buyer, marks[i].buyerNick) << i;
    }
    return orders;
  }
};

TEST_F(ResendBatchTest, SelectedOrdersGoInOrderEachToItsBuyerAndAFailureEndsTheBatch) {
  const std::vector<std::string> o = LoseThree();
  const std::vector<testing::SentMessage> lost = sender_.sent;
  ASSERT_EQ(lost.size(), 3u);
  // Each lost message went to its own buyer with its own cards.
  EXPECT_EQ(lost[1].buyer, "买家乙"_gbk);
  EXPECT_EQ(lost[1].message, DeliveryMessage("点卡"_gbk, {{"K2", "p2"}, {"K3", "p3"}}));

  // The IM client takes the first message and then no more.
  sender_.onSend = [this, calls = 0]() mutable { sender_.handedOver = ++calls == 1; };
  ResendEvents events;
  ResendBatch batch = ResendOrders(shop(), {o[2], o[0], o[1]}, sender_, &events);
  ASSERT_EQ(batch.results.size(), 2u);
  EXPECT_EQ(batch.results[0].outcome, ResendOutcome::kResent);
  EXPECT_EQ(batch.results[1].outcome, ResendOutcome::kNotHanded);
  EXPECT_EQ(batch.notTried, std::vector<std::string>{o[1]});
  EXPECT_EQ(batch.Resent(), 1);
  ASSERT_EQ(sender_.sent.size(), 5u);
  EXPECT_EQ(sender_.sent[3], lost[2]);
  EXPECT_EQ(sender_.sent[4], lost[0]);
  EXPECT_EQ(Consigned(), std::vector<std::string>{o[2]});
  EXPECT_FALSE(UndeliveredOrders(shop()).IsMarked(o[2]));
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked(o[0]));
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked(o[1]));
  EXPECT_EQ(events.results.size(), 2u);

  // Back: the rest go, an order named twice once, each to its own buyer.
  sender_.onSend = nullptr;
  sender_.handedOver = true;
  batch = ResendOrders(shop(), {o[0], o[1], o[0]}, sender_);
  EXPECT_EQ(batch.Resent(), 2);
  EXPECT_TRUE(batch.notTried.empty());
  ASSERT_EQ(sender_.sent.size(), 7u);
  EXPECT_EQ(sender_.sent[5], lost[0]);
  EXPECT_EQ(sender_.sent[6], lost[1]);
  for (const ResendResult& r : batch.results) {
    EXPECT_TRUE(r.stillListed && r.consignAnswered && r.markCleared) << r.order.orderNumber;
  }
  EXPECT_TRUE(Listed().empty());
  EXPECT_TRUE(UndeliveredOrders(shop()).List().empty());
  // No card taken by any resend.
  EXPECT_EQ(StockNumbers("点卡"_gbk), (std::vector<std::string>{"K5"}));
  EXPECT_EQ(Sent().size(), 4u);

  // A stop before the first order: nothing is tried.
  std::atomic<bool> stop{true};
  batch = ResendOrders(shop(), {o[0]}, sender_, nullptr, &stop);
  EXPECT_TRUE(batch.results.empty());
  EXPECT_EQ(batch.notTried, std::vector<std::string>{o[0]});
  EXPECT_EQ(sender_.sent.size(), 7u);
}

TEST_F(ResendBatchTest, EveryMarkedOrderStillListedIsSentAndTheOthersStayMarked) {
  const std::vector<std::string> o = LoseThree();
  const std::vector<testing::SentMessage> lost = sender_.sent;
  // An order delivered and consigned, marked since (the seller's grid
  // shows it): the order list no longer has it.
  sender_.handedOver = true;
  const std::string gone = PlaceOrder("点卡", 1, "买家丁");
  ASSERT_EQ(Cycle().ordersConsigned, 1);
  ASSERT_TRUE(UndeliveredOrders(shop()).Mark(gone, "买家丁"_gbk, "点卡"_gbk));
  const std::size_t before = sender_.sent.size();

  // The order list cannot be read: nothing is sent, every mark stays.
  setenv("AUTODELIVER_LOGISTICS_HOST", "127.0.0.1:1", 1);
  ResendBatch batch = ResendUndeliveredOrders(shop(), sender_);
  setenv("AUTODELIVER_LOGISTICS_HOST", sim_.host().c_str(), 1);
  EXPECT_NE(batch.listing, ScanOutcome::kListed);
  EXPECT_EQ(batch.marked, 4);
  EXPECT_EQ(batch.notTried, (std::vector<std::string>{o[0], o[1], o[2], gone}));
  EXPECT_EQ(sender_.sent.size(), before);
  EXPECT_EQ(UndeliveredOrders(shop()).List().size(), 4u);

  ResendEvents events;
  batch = ResendUndeliveredOrders(shop(), sender_, &events);
  EXPECT_EQ(batch.listing, ScanOutcome::kListed);
  ASSERT_EQ(batch.results.size(), 3u);
  EXPECT_EQ(batch.Resent(), 3);
  ASSERT_EQ(batch.notListed.size(), 1u);
  EXPECT_EQ(batch.notListed[0].orderNumber, gone);
  EXPECT_TRUE(batch.notTried.empty());
  // In marking order, each the message of its first delivery.
  ASSERT_EQ(sender_.sent.size(), before + 3);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(sender_.sent[before + i], lost[i]) << i;
  EXPECT_EQ(Consigned(), (std::vector<std::string>{gone, o[0], o[1], o[2]}));
  EXPECT_TRUE(Listed().empty());
  std::vector<std::string> marked;
  for (const UndeliveredOrder& m : UndeliveredOrders(shop()).List()) marked.push_back(m.orderNumber);
  EXPECT_EQ(marked, std::vector<std::string>{gone});
  EXPECT_EQ(events.results.size(), 3u);
  EXPECT_EQ(StockNumbers("点卡"_gbk), std::vector<std::string>{});
  EXPECT_EQ(Sent().size(), 5u);

  // Again: the one left is not listed, nothing goes out.
  batch = ResendUndeliveredOrders(shop(), sender_);
  EXPECT_TRUE(batch.results.empty());
  EXPECT_EQ(batch.notListed.size(), 1u);
  EXPECT_EQ(sender_.sent.size(), before + 3);
}

}  // namespace
}  // namespace autodeliver
