// Whole delivery cycles in the core against the marketplace imitation on
// loopback: real tables and card.mdb in a temporary program directory, the
// login cookies in the process cookie store, and a fake IM sender.
#include "delivery/cycle.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <tuple>

#include "../http/raw_http_server.h"
#include "delivery/card_delivery.h"
#include "delivery/controller.h"
#include "delivery/events.h"
#include "delivery/journal.h"
#include "delivery/waiting_needs.h"
#include "delivery/window.h"
#include "delivery_fixture.h"
#include "export/jet4/jet4_file.h"
#include "http/http_request.h"
#include "market/order_scan.h"
#include "market_sim_fixture.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "store/undelivered_orders.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::JsonStrings;
using DeliveryCycleTest = testing::DeliveryFixture;
using testing::FakeSender;
using testing::JsonPart;
using testing::SentMessage;

// Writes every event as one line "event order detail", in order.
class RecordingEvents : public DeliveryEvents {
 public:
  void CycleStarted() override { lines.push_back("cycle"); }
  void OrdersScanned(const OrderScan& scan) override {
    static const std::map<ScanOutcome, std::string> kNames = {{ScanOutcome::kListed, "listed"},
                                                              {ScanOutcome::kUnpaired, "unpaired"},
                                                              {ScanOutcome::kSignInPage, "sign-in-page"},
                                                              {ScanOutcome::kNoAnswer, "no-answer"}};
    lines.push_back("scanned " + kNames.at(scan.outcome) + " " + std::to_string(scan.orders.size()));
  }
  void OrderSeen(const PendingOrder& o) override { lines.push_back("seen " + o.orderNumber); }
  void OrderSkipped(const PendingOrder& o, SkipReason r) override {
    lines.push_back("skipped " + o.orderNumber +
                    (r == SkipReason::kNotMonitored ? " not-monitored" : " delivered"));
  }
  void OrderWaiting(const PendingOrder& o, WaitReason r, int stockLeft) override {
    static const std::map<WaitReason, std::string> kNames = {
        {WaitReason::kStockShort, "stock-short"},         {WaitReason::kOnlineCardFailed, "online-failed"},
        {WaitReason::kQuantityNotPositive, "quantity"},   {WaitReason::kSellerNickUnreadable, "nick"},
        {WaitReason::kStockChanged, "stock-changed"},     {WaitReason::kRecordFailed, "record"},
        {WaitReason::kBuyerNickUnpassable, "buyer-nick"}, {WaitReason::kSellerNickUnpassable, "seller-nick"},
        {WaitReason::kNotWritten, "not-written"},         {WaitReason::kValueTooLong, "too-long"}};
    lines.push_back("waiting " + o.orderNumber + " " + kNames.at(r) + " " + std::to_string(stockLeft));
  }
  void CardsDelivered(const PendingOrder& o, const std::vector<DeliveredCard>& cards) override {
    std::string line = "delivered " + o.orderNumber + " " + GbkToUtf8Lossy(o.buyerNick);
    for (const DeliveredCard& c : cards) line += " " + c.cardNumber + "/" + c.cardPassword;
    lines.push_back(line);
  }
  void StockAfterDelivery(const PendingOrder& o, int cardsLeft) override {
    lines.push_back("stock " + o.orderNumber + " " + std::to_string(cardsLeft));
  }
  void MessageHanded(const PendingOrder& o, bool handed) override {
    lines.push_back("message " + o.orderNumber + (handed ? " handed" : " not-handed"));
  }
  void OrderConsigned(const PendingOrder& o, bool answered) override {
    lines.push_back("consigned " + o.orderNumber + (answered ? " answered" : " unanswered"));
  }
  void LoginStateChanged(bool looksExpired) override {
    lines.push_back(looksExpired ? "login expired" : "login restored");
  }
  void CycleEnded(const CycleResult& r) override {
    lines.push_back("end " + std::to_string(r.ordersListed) + " " + std::to_string(r.ordersDelivered) + " " +
                    std::to_string(r.ordersConsigned) + " " + std::to_string(r.ordersWaiting) + " " +
                    std::to_string(r.ordersSkipped) + (r.endedAtImFailure ? " im-failure" : "") +
                    (r.stopped ? " stopped" : ""));
  }
  std::vector<std::string> lines;
};

TEST_F(DeliveryCycleTest, DeliversNewMonitoredOrdersOldestCardFirstInPageOrder) {
  const std::string card = "点卡10元"_gbk, coin = "Q币"_gbk;
  Monitor(card);
  Monitor(coin);
  Stock(card, {{"A001", "p1"}, {"A'002", "p'2"}, {"A003", "p3"}});
  Stock(coin, {{"Q1", "0"}});
  // The page lists the newest order first.
  const std::string first = PlaceOrder("点卡10元", 2, "买家甲");
  const std::string unmonitored = PlaceOrder("月卡", 1, "买家丙");
  const std::string second = PlaceOrder("Q币", 1, "买家乙");
  const std::string trailingSpace = PlaceOrder("点卡10元 ", 1, "买家丁");
  const std::string recorded = PlaceOrder("点卡10元", 1, "买家戊");
  ASSERT_TRUE(AppendSentCard(shop(), {card, recorded, "买家戊"_gbk, 1, "OLD", "x", "", "t"}));

  const CycleResult result = Cycle();
  EXPECT_EQ(result.ordersListed, 5);
  EXPECT_EQ(result.ordersDelivered, 2);
  EXPECT_EQ(result.ordersConsigned, 2);

  const std::string seller = "测试卖家"_gbk;
  EXPECT_EQ(
      sender_.sent,
      (std::vector<SentMessage>{
          {seller, "买家乙"_gbk, "您购买的 Q币 卡号信息如下\r\n\r\n卡号：Q1 卡密：0\r\n"_gbk},
          {seller, "买家甲"_gbk,
           "您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：A001 卡密：p1\r\n卡号：A'002 卡密：p'2\r\n"_gbk},
      }));

  const std::vector<SentCard> sent = Sent();
  ASSERT_EQ(sent.size(), 4u);
  const struct {
    std::string item, order, buyer;
    int quantity;
    std::string number, password;
  } expected[] = {{coin, second, "买家乙"_gbk, 1, "Q1", "0"},
                  {card, first, "买家甲"_gbk, 2, "A001", "p1"},
                  {card, first, "买家甲"_gbk, 2, "A'002", "p'2"}};
  for (std::size_t i = 0; i < 3; ++i) {
    const SentCard& s = sent[i + 1];
    EXPECT_EQ(s.itemName, expected[i].item);
    EXPECT_EQ(s.orderNumber, expected[i].order);
    EXPECT_EQ(s.buyerNick, expected[i].buyer);
    EXPECT_EQ(s.quantity, expected[i].quantity);
    EXPECT_EQ(s.cardNumber, expected[i].number);
    EXPECT_EQ(s.cardPassword, expected[i].password);
    EXPECT_EQ(s.remark, "");
    EXPECT_NE(FindText(s.sentAt, "日"_gbk), -1) << "a delivery time is recorded";
  }
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"A003"});
  EXPECT_TRUE(StockNumbers(coin).empty());

  // Both delivered orders were accepted by the marketplace, in page order;
  // the skipped ones stay listed.
  EXPECT_EQ(Consigned(), (std::vector<std::string>{second, first}));
  EXPECT_EQ(ConsignAttempts(), (std::vector<std::string>{second, first}));
  EXPECT_EQ(Listed(), (std::vector<std::string>{recorded, trailingSpace, unmonitored}));

  // One request for the first page of the list, without a query; the
  // seller's nick fetched once per order that got as far.
  const std::vector<std::string> targets =
      JsonStrings(JsonPart(sim_.State(), "requests", "service"), "target");
  EXPECT_EQ(std::count(targets.begin(), targets.end(), "/user/order_list_new.htm"), 1);
  EXPECT_EQ(std::count(targets.begin(), targets.end(), "/user/baseInfoSet.htm"), 2);

  // card.mdb follows once the shop is idle.
  EXPECT_TRUE(ExportedRows().empty());

  // The next cycle finds nothing new to deliver, and brings every card to
  // card.mdb, quotes and all.
  const CycleResult again = Cycle();
  EXPECT_EQ(again.ordersDelivered, 0);
  EXPECT_EQ(sender_.sent.size(), 2u);
  EXPECT_EQ(ExportedRows(),
            (std::vector<std::string>{second + "|Q1|0", first + "|A001|p1", first + "|A'002|p'2"}));
}

// A program closed right after a delivering cycle (no idle cycle came):
// closing the delivery brings its cards to card.mdb.
TEST_F(DeliveryCycleTest, ClosingTheDeliveryBringsTheLastCyclesCardsToCardMdb) {
  Monitor("点卡"_gbk);
  Stock("点卡"_gbk, {{"K1", "k1"}});
  const std::string order = PlaceOrder("点卡", 1, "买家甲");
  class NoWindow : public DeliveryWindow {
    void RefreshAfterDelivery() override {}
    void SetTimerInterval(int) override {}
  } window;
  {
    DeliveryController controller(shop(), window, [](const std::atomic<bool>&) { return CycleResult{}; });
    ASSERT_EQ(Cycle().ordersDelivered, 1);
    EXPECT_TRUE(ExportedRows().empty());
  }
  EXPECT_EQ(ExportedRows(), std::vector<std::string>{order + "|K1|k1"});
  EXPECT_TRUE(DeliveryJournal(shop()).Entries().empty());
}

TEST_F(DeliveryCycleTest, OrderWaitsWholeUntilTheStockCoversIt) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}});
  const std::string order = PlaceOrder("点卡", 2, "买家甲");

  EXPECT_EQ(Cycle().ordersDelivered, 0);
  EXPECT_TRUE(sender_.sent.empty());
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C1"});
  EXPECT_TRUE(ConsignAttempts().empty());
  EXPECT_EQ(Listed(), std::vector<std::string>{order});

  // A quantity of 0 or less takes nothing either.
  EXPECT_EQ(DeliverCards(shop(), "9", card, "b", "", 0).message, std::nullopt);
  EXPECT_EQ(DeliverCards(shop(), "9", card, "b", "", -1).message, std::nullopt);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C1"});

  // Once the seller restocks, the order goes out whole, oldest card first.
  Stock(card, {{"C2", "2"}});
  EXPECT_EQ(Cycle().ordersDelivered, 1);
  ASSERT_EQ(sender_.sent.size(), 1u);
  EXPECT_EQ(sender_.sent[0].message,
            "您购买的 点卡 卡号信息如下\r\n\r\n卡号：C1 卡密：1\r\n卡号：C2 卡密：2\r\n"_gbk);
  EXPECT_EQ(Consigned(), std::vector<std::string>{order});
}

// Between two cycles other programs edit the tables: the table tool
// restocks the item, and a second copy of the program records one of the
// waiting orders as sent. The next cycle sees both: it delivers the new card
// to the other order and leaves the recorded one alone.
TEST_F(DeliveryCycleTest, EditsOfOtherProgramsBetweenTwoCyclesAreSeen) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}});
  PlaceOrder("点卡", 1, "买家甲");
  ASSERT_EQ(Cycle().ordersDelivered, 1);
  const std::string recordedElsewhere = PlaceOrder("点卡", 1, "买家乙");
  const std::string waiting = PlaceOrder("点卡", 1, "买家丙");
  EXPECT_EQ(Cycle().ordersDelivered, 0);  // no stock left

  const std::string file = (dir_ / "cards.txt").string();
  { std::ofstream(file, std::ios::binary) << "C2 2\nC3 3\n"; }
  const std::string command =
      std::string(TABLE_TOOL) + " import '" + dir_.string() + "' 点卡 '" + file + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    RecordTable sent;
    ::_exit(sent.Open(shop().SentTablePath()) &&
                    sent.Append({card, recordedElsewhere, "买家乙"_gbk, "1", "X", "Y", "", "t"})
                ? 0
                : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const CycleResult result = Cycle();
  EXPECT_EQ(result.ordersDelivered, 1);
  ASSERT_EQ(sender_.sent.size(), 2u);
  EXPECT_EQ(sender_.sent[1].buyer, "买家丙"_gbk);
  EXPECT_NE(sender_.sent[1].message.find("卡号：C2 卡密：2"_gbk), std::string::npos);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C3"});
  const std::vector<SentCard> sent = Sent();
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                          [&](const SentCard& c) { return c.orderNumber == recordedElsewhere; }),
            1);
  EXPECT_EQ(
      std::count_if(sent.begin(), sent.end(), [&](const SentCard& c) { return c.orderNumber == waiting; }),
      1);
}

// The cycle keeps its tables open from one order to the next. While the
// first order's message goes out, another program takes the card the next
// order would get and records the last order as sent, and the window (this
// process) removes one more card and restocks: the next orders see all of
// it. No card goes out twice, and the recorded order is left alone.
TEST_F(DeliveryCycleTest, WritesBetweenTwoOrdersOfOneCycleAreSeen) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}, {"C2", "2"}, {"C3", "3"}});
  const std::string last = PlaceOrder("点卡", 1, "买家甲");
  const std::string second = PlaceOrder("点卡", 1, "买家乙");
  const std::string first = PlaceOrder("点卡", 1, "买家丙");  // listed first
  sender_.onSend = [&] {
    if (sender_.sent.size() != 1) return;
    const pid_t pid = ::fork();
    if (pid == 0) {
      RecordTable stock, sent;
      const bool ok = stock.Open(shop().StockTablePath()) && stock.GoTo(2) && stock.MarkDeleted() &&
                      sent.Open(shop().SentTablePath()) &&
                      sent.Append({card, last, "买家甲"_gbk, "1", "ELSEWHERE", "x", "", "t"});
      ::_exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(MarkStockCardAt(shop(), 3));  // C3, from the window
    Stock(card, {{"C4", "4"}});
  };

  const CycleResult result = Cycle();
  EXPECT_EQ(result.ordersDelivered, 2);
  EXPECT_EQ(result.ordersSkipped, 1);
  ASSERT_EQ(sender_.sent.size(), 2u);
  EXPECT_EQ(sender_.sent[0].buyer, "买家丙"_gbk);
  EXPECT_NE(sender_.sent[0].message.find("卡号：C1 卡密：1"_gbk), std::string::npos);
  EXPECT_EQ(sender_.sent[1].buyer, "买家乙"_gbk);
  EXPECT_NE(sender_.sent[1].message.find("卡号：C4 卡密：4"_gbk), std::string::npos);
  EXPECT_TRUE(StockNumbers(card).empty());
  std::map<std::string, int> rowsPerCard;
  for (const SentCard& c : Sent()) ++rowsPerCard[c.cardNumber];
  EXPECT_EQ(rowsPerCard, (std::map<std::string, int>{{"C1", 1}, {"C4", 1}, {"ELSEWHERE", 1}}));
  EXPECT_EQ(Consigned(), (std::vector<std::string>{first, second}));
}

// A sent-cards table that holds order numbers in a fixed-width field never
// gets one cut: the order waits, no card is taken, and nothing is left for
// the recovery to finish.
TEST_F(DeliveryCycleTest, AnOrderNumberWiderThanItsFieldWaitsWithEveryCardInStock) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}});
  const CardDelivery refused =
      DeliverCards(shop(), std::string(kOrderNumberWidth + 1, '9'), card, "买家"_gbk, "", 1);
  EXPECT_FALSE(refused.message);
  EXPECT_EQ(refused.waitReason, WaitReason::kValueTooLong);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C1"});
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(DeliverCards(shop(), "1001", card, "买家"_gbk, "").message);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].cardNumber, "C1");
}

TEST_F(DeliveryCycleTest, OnlineCardsAreResolvedAndAFailedOneStaysInStock) {
  const std::string broken = "坏卡"_gbk, online = "在线卡"_gbk, secure = "加密卡"_gbk;
  for (const std::string& item : {broken, online, secure}) Monitor(item);
  const std::string empty = sim_.Url("/card/");          // answers 404 with no body
  const std::string down = "http://127.0.0.1:1/card/X";  // nobody listens
  Stock(broken, {{empty, "e"}});
  Stock(online, {{"HTTP://" + sim_.host() + "/card/ABC123", "pw"}});
  Stock(secure, {{"https://" + sim_.host() + "/card/S1", "s"}});
  const std::string waiting = PlaceOrder("坏卡", 1, "甲");
  const std::string resolved = PlaceOrder("在线卡", 1, "乙");
  const std::string asIs = PlaceOrder("加密卡", 1, "丙");

  EXPECT_EQ(Cycle().ordersDelivered, 2);
  ASSERT_EQ(sender_.sent.size(), 2u);
  // "https://" holds no "http://": the number goes out as written.
  EXPECT_EQ(sender_.sent[0].message, "您购买的 加密卡 卡号信息如下\r\n\r\n卡号：https://"_gbk + sim_.host() +
                                         "/card/S1" + " 卡密：s\r\n"_gbk);
  EXPECT_EQ(sender_.sent[1].message, "您购买的 在线卡 卡号信息如下\r\n\r\n卡号：ABC123 卡密：pw\r\n"_gbk);
  const std::vector<SentCard> sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].cardNumber, "ABC123");

  // The card whose request answered nothing stays, and so does its order;
  // the same for an unreachable card server.
  EXPECT_EQ(StockNumbers(broken), std::vector<std::string>{empty});
  EXPECT_EQ(Listed(), std::vector<std::string>{waiting});
  Stock(online, {{down, "d"}});
  PlaceOrder("在线卡", 1, "丁");
  EXPECT_EQ(Cycle().ordersDelivered, 0);
  EXPECT_EQ(StockNumbers(online), std::vector<std::string>{down});
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Consigned(), (std::vector<std::string>{asIs, resolved}));
}

TEST_F(DeliveryCycleTest, MessageNotHandedOverKeepsCardsRecordedAndOrderListed) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}, {"C2", "2"}});
  const std::string order = PlaceOrder("点卡", 1, "买家甲");
  sender_.handedOver = false;

  const CycleResult result = Cycle();
  EXPECT_EQ(result.ordersDelivered, 1);
  EXPECT_EQ(result.ordersConsigned, 0);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].cardNumber, "C1");
  EXPECT_TRUE(ConsignAttempts().empty());
  EXPECT_EQ(Listed(), std::vector<std::string>{order});
  EXPECT_TRUE(result.endedAtImFailure);
  // Marked as not delivered to its buyer, for a resend.
  const std::vector<UndeliveredOrder> marks = UndeliveredOrders(shop()).List();
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks[0].orderNumber, order);
  EXPECT_EQ(marks[0].buyerNick, "买家甲"_gbk);
  EXPECT_EQ(marks[0].itemTitle, card);

  // The recorded card is never handed to anybody again: the order is
  // skipped from now on and C2 stays in stock.
  sender_.handedOver = true;
  EXPECT_EQ(Cycle().ordersDelivered, 0);
  EXPECT_EQ(sender_.sent.size(), 1u);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C2"});
}

TEST_F(DeliveryCycleTest, ImFailureEndsTheCycleAndLeavesLaterOrdersUntouched) {
  const std::string card = "点卡"_gbk, coin = "Q币"_gbk;
  Monitor(card);
  Monitor(coin);
  Stock(card, {{"C1", "1"}, {"C2", "2"}, {"C3", "3"}});
  Stock(coin, {{"Q1", "q"}});
  // Page order is newest first: `first` is reached first.
  const std::string third = PlaceOrder("Q币", 1, "买家丙");
  const std::string second = PlaceOrder("点卡", 1, "买家乙");
  const std::string first = PlaceOrder("点卡", 2, "买家甲");
  sender_.handedOver = false;  // the IM client is away

  const CycleResult result = Cycle();
  EXPECT_TRUE(result.endedAtImFailure);
  EXPECT_EQ(result.ordersListed, 3);
  EXPECT_EQ(result.ordersDelivered, 1);
  EXPECT_EQ(result.ordersConsigned, 0);
  // Only the first order took its cards; the others were never touched:
  // nothing recorded, nothing exported, the stock as it was, no message.
  ASSERT_EQ(sender_.sent.size(), 1u);
  EXPECT_EQ(sender_.sent[0].buyer, "买家甲"_gbk);
  const std::vector<SentCard> sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].orderNumber, first);
  EXPECT_EQ(sent[1].orderNumber, first);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C3"});
  EXPECT_EQ(StockNumbers(coin), std::vector<std::string>{"Q1"});
  EXPECT_EQ(ExportedRows(), (std::vector<std::string>{first + "|C1|1", first + "|C2|2"}));
  EXPECT_TRUE(ConsignAttempts().empty());
  EXPECT_EQ(Listed(), (std::vector<std::string>{first, second, third}));
  const std::vector<UndeliveredOrder> marks = UndeliveredOrders(shop()).List();
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks[0].orderNumber, first);

  // With the IM client back, the next cycle delivers the untouched orders;
  // the failed one waits for its resend.
  sender_.handedOver = true;
  const CycleResult next = Cycle();
  EXPECT_FALSE(next.endedAtImFailure);
  EXPECT_EQ(next.ordersDelivered, 2);
  EXPECT_EQ(Consigned(), (std::vector<std::string>{second, third}));
  EXPECT_EQ(UndeliveredOrders(shop()).List().size(), 1u);
}

// Answers every request with a page that is neither the profile page nor a
// sign-in page: the nick cannot be read from it.
testing::Reply NoNickPage(const std::string&) {
  return testing::Answer(200, "<html><body>" + "系统繁忙，请稍后再试"_gbk + "</body></html>",
                         "Content-Type: text/html; charset=GBK\r\n");
}

TEST_F(DeliveryCycleTest, LoginLooksExpiredAfterTwoSignedOutCyclesInARow) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  PlaceOrder("点卡", 1, "甲");  // waits for stock: the login is seen working
  LoginWatch watch;
  RecordingEvents events;
  auto cycle = [&] {
    events.lines.clear();
    const CycleResult r = RunDeliveryCycle(shop(), sender_, stop_, &events, &watch);
    const bool told = std::count(events.lines.begin(), events.lines.end(), "login expired") > 0;
    const bool restored = std::count(events.lines.begin(), events.lines.end(), "login restored") > 0;
    return std::make_tuple(r.loginSign, r.loginLooksExpired, told, restored);
  };
  using S = LoginSign;
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedIn, false, false, false));

  sim_.Post("/_sim/expire_sessions");  // every page now answers the sign-in form
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedOut, false, false, false));
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedOut, true, true, false));  // second in a row: told once
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedOut, true, false, false));
  // A cycle that reaches nothing says nothing about the login.
  setenv("AUTODELIVER_LOGISTICS_HOST", "127.0.0.1:1", 1);
  EXPECT_EQ(cycle(), std::make_tuple(S::kNone, true, false, false));
  setenv("AUTODELIVER_LOGISTICS_HOST", sim_.host().c_str(), 1);

  sim_.SignIn();  // the seller signs in again
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedIn, false, false, true));

  // The profile page without the nick points the same way, even while the
  // order page reads fine; a failed request for it does not.
  Stock(card, {{"C1", "1"}});
  testing::RawHttpServer noNick(NoNickPage);
  setenv("AUTODELIVER_MEMBER_HOST", ("127.0.0.1:" + std::to_string(noNick.port())).c_str(), 1);
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedOut, false, false, false));
  setenv("AUTODELIVER_MEMBER_HOST", "127.0.0.1:1", 1);
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedIn, false, false, false));  // the run is broken
  setenv("AUTODELIVER_MEMBER_HOST", ("127.0.0.1:" + std::to_string(noNick.port())).c_str(), 1);
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedOut, false, false, false));
  EXPECT_EQ(cycle(), std::make_tuple(S::kSignedOut, true, true, false));
  setenv("AUTODELIVER_MEMBER_HOST", sim_.host().c_str(), 1);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C1"});  // no card left without a nick
}

TEST_F(DeliveryCycleTest, StopRequestFinishesTheOrderInHandOnly) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}, {"C2", "2"}});
  const std::string older = PlaceOrder("点卡", 1, "甲");
  const std::string newer = PlaceOrder("点卡", 1, "乙");
  sender_.onSend = [this] { stop_.store(true); };

  const CycleResult result = Cycle();
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.ordersDelivered, 1);
  // The order in hand was finished: recorded, messaged and consigned.
  EXPECT_EQ(Consigned(), std::vector<std::string>{newer});
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].orderNumber, newer);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C2"});
  EXPECT_EQ(Listed(), std::vector<std::string>{older});
}

TEST_F(DeliveryCycleTest, OrderWaitsWhenTheSellerNickCannotBeRead) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}});
  const std::string order = PlaceOrder("点卡", 1, "甲");
  setenv("AUTODELIVER_MEMBER_HOST", "127.0.0.1:1", 1);  // the profile page cannot be reached
  EXPECT_EQ(Cycle().ordersDelivered, 0);
  EXPECT_TRUE(sender_.sent.empty());
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C1"});
  EXPECT_EQ(Listed(), std::vector<std::string>{order});

  setenv("AUTODELIVER_MEMBER_HOST", sim_.host().c_str(), 1);
  EXPECT_EQ(Cycle().ordersDelivered, 1);
  EXPECT_EQ(Consigned(), std::vector<std::string>{order});
}

TEST_F(DeliveryCycleTest, ExpiredLoginDeliversNothing) {
  const std::string card = "点卡"_gbk;
  Monitor(card);
  Stock(card, {{"C1", "1"}});
  PlaceOrder("点卡", 1, "甲");
  sim_.Post("/_sim/expire_sessions");
  EXPECT_EQ(Cycle().ordersListed, 0);
  EXPECT_TRUE(sender_.sent.empty());
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C1"});
}

TEST_F(DeliveryCycleTest, ObserverIsToldEachOrdersFateInOrder) {
  const std::string card = "点卡"_gbk, broken = "坏卡"_gbk;
  Monitor(card);
  Monitor(broken);
  Stock(card, {{"C1", "1"}, {"C2", "2"}});
  Stock(broken, {{sim_.Url("/card/"), "e"}});
  // Page order is newest first: the list below is read bottom up.
  const std::string notHanded = PlaceOrder("点卡", 1, "买家己");
  const std::string delivered = PlaceOrder("点卡", 1, "买家甲");
  const std::string recorded = PlaceOrder("点卡", 1, "买家乙");
  ASSERT_TRUE(AppendSentCard(shop(), {card, recorded, "买家乙"_gbk, 1, "OLD", "x", "", "t"}));
  const std::string unmonitored = PlaceOrder("月卡", 1, "买家丙");
  const std::string tooMany = PlaceOrder("点卡", 5, "买家丁");
  const std::string online = PlaceOrder("坏卡", 1, "买家戊");
  sender_.onSend = [this] { sender_.handedOver = sender_.sent.size() < 2; };

  RecordingEvents events;
  RunDeliveryCycle(shop(), sender_, stop_, &events);
  EXPECT_EQ(events.lines, (std::vector<std::string>{
                              "cycle",
                              "scanned listed 6",
                              "seen " + online,
                              "waiting " + online + " online-failed 1",
                              "seen " + tooMany,
                              "waiting " + tooMany + " stock-short 2",
                              "seen " + unmonitored,
                              "skipped " + unmonitored + " not-monitored",
                              "seen " + recorded,
                              "skipped " + recorded + " delivered",
                              "seen " + delivered,
                              "delivered " + delivered + " 买家甲 C1/1",
                              "stock " + delivered + " 1",
                              "message " + delivered + " handed",
                              "consigned " + delivered + " answered",
                              "seen " + notHanded,
                              "delivered " + notHanded + " 买家己 C2/2",
                              "stock " + notHanded + " 0",
                              "message " + notHanded + " not-handed",
                              "end 6 2 1 2 2 im-failure",
                          }));

  // Zero quantity and an unreadable seller nick name their own reasons.
  events.lines.clear();
  sim_.Post("/_sim/reset");
  Stock(card, {{"C3", "3"}});
  const std::string later = PlaceOrder("点卡", 1, "甲");
  setenv("AUTODELIVER_MEMBER_HOST", "127.0.0.1:1", 1);
  RunDeliveryCycle(shop(), sender_, stop_, &events);
  setenv("AUTODELIVER_MEMBER_HOST", sim_.host().c_str(), 1);
  EXPECT_EQ(events.lines, (std::vector<std::string>{"cycle", "scanned listed 1", "seen " + later,
                                                    "waiting " + later + " nick 0", "end 1 0 0 1 0"}));
  EXPECT_EQ(DeliverCards(shop(), "9", card, "b", "", 0).waitReason, WaitReason::kQuantityNotPositive);
  EXPECT_EQ(DeliverCards(shop(), "9", card, "b", "", 0).stockLeft, 1);
}

// The cards that orders wait for are summed per item over one cycle, the
// sums handed over at its end and started afresh by the next cycle; a cycle
// that did not see the whole list leaves the last sums standing.
TEST_F(DeliveryCycleTest, WaitingNeedsSumTheOrdersShortOfStockPerCycle) {
  const std::string card = "点卡"_gbk, month = "月卡"_gbk;
  Monitor(card);
  Monitor(month);
  Stock(card, {{"C1", "1"}});
  // Read bottom up: the order of 1 gets the one card, the orders of 5 and
  // 3 wait for it; the month card has no stock at all.
  PlaceOrder("点卡", 5, "甲");
  PlaceOrder("月卡", 2, "乙");
  PlaceOrder("点卡", 3, "丙");
  PlaceOrder("点卡", 1, "丁");

  WaitingNeeds needs;
  std::vector<StockCounts> handed;
  needs.SetHandover([&](const StockCounts& sums) { handed.push_back(sums); });
  RunDeliveryCycle(shop(), sender_, stop_, &needs);
  ASSERT_EQ(handed.size(), 1u);
  EXPECT_EQ(handed[0], (StockCounts{{card, 8}, {month, 2}}));
  EXPECT_EQ(needs.Last(), handed[0]);

  // Restocked: the next cycle delivers the month card's order and starts
  // its sums afresh.
  Stock(month, {{"M1", "1"}, {"M2", "2"}});
  RunDeliveryCycle(shop(), sender_, stop_, &needs);
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_EQ(handed[1], (StockCounts{{card, 8}}));

  // A cycle stopped before its end, and one whose page could not be read,
  // hand nothing over and keep the last whole cycle's sums.
  std::atomic<bool> stop{true};
  RunDeliveryCycle(shop(), sender_, stop, &needs);
  sim_.Post("/_sim/expire_sessions");
  RunDeliveryCycle(shop(), sender_, stop_, &needs);
  EXPECT_EQ(handed.size(), 2u);
  EXPECT_EQ(needs.Last(), handed[1]);
}

}  // namespace
}  // namespace autodeliver
