// Whole delivery cycles in the core against the marketplace imitation on
// loopback: real tables and card.mdb in a temporary program directory, the
// login cookies in the process cookie store, and a fake IM sender.
#include "delivery/delivery_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "delivery/card_delivery.h"
#include "delivery/delivery_events.h"
#include "delivery/waiting_needs.h"
#include "http/http_request.h"
#include "market/order_scan.h"
#include "market_sim_fixture.h"
#include "store/data_paths.h"
#include "store/jet4/jet4_file.h"
#include "store/store_ops.h"
#include "store/table_schema.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::JsonStrings;

struct SentMessage {
  std::string seller;
  std::string buyer;
  std::string message;
  bool operator==(const SentMessage&) const = default;
};

class FakeSender : public MessageSender {
 public:
  bool Send(const std::string& seller, const std::string& buyer, const std::string& message) override {
    sent.push_back({seller, buyer, message});
    if (onSend) onSend();
    return handedOver;
  }
  std::vector<SentMessage> sent;
  bool handedOver = true;
  std::function<void()> onSend;
};

std::string JsonPart(const std::string& json, const std::string& key, const std::string& nextKey) {
  const std::size_t from = json.find("\"" + key + "\"");
  const std::size_t to = json.find("\"" + nextKey + "\"", from);
  return from == std::string::npos ? std::string() : json.substr(from, to - from);
}

class DeliveryCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.ok()) << "the imitation did not start";
    SetHttpTimeoutForTesting(std::chrono::seconds(20));
    dir_ = std::filesystem::temp_directory_path() /
           ("delivery_cycle_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::string error;
    ASSERT_TRUE(CreateDataTables(dir_.string(), &error)) << error;
    ASSERT_TRUE(CreateCardDatabase((dir_ / "card.mdb").string()));
    SetProgramDir(dir_.string());
    sim_.SignIn();
  }
  void TearDown() override {
    SetProgramDir("");
    std::filesystem::remove_all(dir_);
  }

  static void Monitor(const std::string& item) { ASSERT_TRUE(AppendItem({item, "", 0, true})); }
  static void Stock(const std::string& item, const std::vector<std::pair<std::string, std::string>>& cards) {
    for (const auto& [number, password] : cards) ASSERT_TRUE(AppendStockCard({item, number, password, 0}));
  }
  static std::vector<std::string> StockNumbers(const std::string& item) {
    std::vector<std::string> numbers;
    for (const StockCard& c : LoadStockCardsOf(item)) numbers.push_back(c.cardNumber);
    return numbers;
  }
  static std::vector<SentCard> Sent() {
    std::vector<SentCard> cards;
    LoadSentCards(&cards);
    return cards;
  }
  // Places an order (title and buyer in UTF-8) and returns its number.
  std::string PlaceOrder(const std::string& title, int quantity, const std::string& buyer) {
    const std::string answer = sim_.Call(
        "/_sim/place_order", {{"title", title}, {"quantity", std::to_string(quantity)}, {"buyer", buyer}});
    const std::vector<std::string> numbers = JsonStrings(answer, "orderNumber");
    EXPECT_EQ(numbers.size(), 1u) << answer;
    return numbers.empty() ? std::string() : numbers[0];
  }
  std::vector<std::string> Listed() {
    return JsonStrings(JsonPart(sim_.State(), "orders", "consigned"), "orderNumber");
  }
  std::vector<std::string> Consigned() {
    return JsonStrings(JsonPart(sim_.State(), "consigned", "consignAttempts"), "orderNumber");
  }
  std::vector<std::string> ConsignAttempts() {
    return JsonStrings(JsonPart(sim_.State(), "consignAttempts", "requests"), "tradeId");
  }
  // The rows of card.mdb as "order|card|password", read with mdb-export.
  std::vector<std::string> ExportedRows() {
    const std::string command = "mdb-export -H -d '|' -q '' '" + (dir_ / "card.mdb").string() + "' biao";
    std::vector<std::string> rows;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return rows;
    char line[1024];
    while (fgets(line, sizeof line, pipe) != nullptr) {
      std::string row(line);
      while (!row.empty() && (row.back() == '\n' || row.back() == '\r')) row.pop_back();
      rows.push_back(row);
    }
    pclose(pipe);
    return rows;
  }
  CycleResult Cycle() { return RunDeliveryCycle(sender_, stop_); }

  testing::MarketSim sim_;
  std::filesystem::path dir_;
  FakeSender sender_;
  std::atomic<bool> stop_{false};
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
  ASSERT_TRUE(AppendSentCard({card, recorded, "买家戊"_gbk, 1, "OLD", "x", "", "t"}));

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

  // Every card reached card.mdb, quotes and all.
  EXPECT_EQ(ExportedRows(),
            (std::vector<std::string>{second + "|Q1|0", first + "|A001|p1", first + "|A'002|p'2"}));

  // The next cycle finds nothing new to deliver.
  const CycleResult again = Cycle();
  EXPECT_EQ(again.ordersDelivered, 0);
  EXPECT_EQ(sender_.sent.size(), 2u);
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
  EXPECT_EQ(DeliverCards("9", card, "b", "", 0), std::nullopt);
  EXPECT_EQ(DeliverCards("9", card, "b", "", -1), std::nullopt);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C1"});

  // Once the seller restocks, the order goes out whole, oldest card first.
  Stock(card, {{"C2", "2"}});
  EXPECT_EQ(Cycle().ordersDelivered, 1);
  ASSERT_EQ(sender_.sent.size(), 1u);
  EXPECT_EQ(sender_.sent[0].message,
            "您购买的 点卡 卡号信息如下\r\n\r\n卡号：C1 卡密：1\r\n卡号：C2 卡密：2\r\n"_gbk);
  EXPECT_EQ(Consigned(), std::vector<std::string>{order});
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

  // The recorded card is never handed to anybody again: the order is
  // skipped from now on and C2 stays in stock.
  sender_.handedOver = true;
  EXPECT_EQ(Cycle().ordersDelivered, 0);
  EXPECT_EQ(sender_.sent.size(), 1u);
  EXPECT_EQ(StockNumbers(card), std::vector<std::string>{"C2"});
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

// Writes every event as one line "event order detail", in order.
class RecordingEvents : public DeliveryEvents {
 public:
  void OrderSeen(const PendingOrder& o) override { lines.push_back("seen " + o.orderNumber); }
  void OrderSkipped(const PendingOrder& o, SkipReason r) override {
    lines.push_back("skipped " + o.orderNumber +
                    (r == SkipReason::kNotMonitored ? " not-monitored" : " delivered"));
  }
  void OrderWaiting(const PendingOrder& o, WaitReason r, int stockLeft) override {
    static const std::map<WaitReason, std::string> kNames = {
        {WaitReason::kStockShort, "stock-short"},       {WaitReason::kOnlineCardFailed, "online-failed"},
        {WaitReason::kQuantityNotPositive, "quantity"}, {WaitReason::kSellerNickUnreadable, "nick"},
        {WaitReason::kStockChanged, "stock-changed"},   {WaitReason::kRecordFailed, "record"}};
    lines.push_back("waiting " + o.orderNumber + " " + kNames.at(r) + " " + std::to_string(stockLeft));
  }
  void CardsDelivered(const PendingOrder& o, const std::vector<DeliveredCard>& cards) override {
    std::string line = "delivered " + o.orderNumber + " " + GbkToUtf8Lossy(o.buyerNick);
    for (const DeliveredCard& c : cards) line += " " + c.cardNumber + "/" + c.cardPassword;
    lines.push_back(line);
  }
  void MessageHanded(const PendingOrder& o, bool handed) override {
    lines.push_back("message " + o.orderNumber + (handed ? " handed" : " not-handed"));
  }
  void OrderConsigned(const PendingOrder& o, bool answered) override {
    lines.push_back("consigned " + o.orderNumber + (answered ? " answered" : " unanswered"));
  }
  std::vector<std::string> lines;
};

TEST_F(DeliveryCycleTest, ObserverIsToldEachOrdersFateInOrder) {
  const std::string card = "点卡"_gbk, broken = "坏卡"_gbk;
  Monitor(card);
  Monitor(broken);
  Stock(card, {{"C1", "1"}, {"C2", "2"}});
  Stock(broken, {{sim_.Url("/card/"), "e"}});
  // Page order is newest first: the list below is read bottom up.
  const std::string delivered = PlaceOrder("点卡", 1, "买家甲");
  const std::string recorded = PlaceOrder("点卡", 1, "买家乙");
  ASSERT_TRUE(AppendSentCard({card, recorded, "买家乙"_gbk, 1, "OLD", "x", "", "t"}));
  const std::string unmonitored = PlaceOrder("月卡", 1, "买家丙");
  const std::string tooMany = PlaceOrder("点卡", 5, "买家丁");
  const std::string online = PlaceOrder("坏卡", 1, "买家戊");
  const std::string notHanded = PlaceOrder("点卡", 1, "买家己");
  sender_.onSend = [this] { sender_.handedOver = sender_.sent.size() > 1; };

  RecordingEvents events;
  RunDeliveryCycle(sender_, stop_, &events);
  EXPECT_EQ(events.lines, (std::vector<std::string>{
                              "seen " + notHanded,
                              "delivered " + notHanded + " 买家己 C1/1",
                              "message " + notHanded + " not-handed",
                              "seen " + online,
                              "waiting " + online + " online-failed 1",
                              "seen " + tooMany,
                              "waiting " + tooMany + " stock-short 1",
                              "seen " + unmonitored,
                              "skipped " + unmonitored + " not-monitored",
                              "seen " + recorded,
                              "skipped " + recorded + " delivered",
                              "seen " + delivered,
                              "delivered " + delivered + " 买家甲 C2/2",
                              "message " + delivered + " handed",
                              "consigned " + delivered + " answered",
                          }));

  // Zero quantity and an unreadable seller nick name their own reasons.
  events.lines.clear();
  sim_.Post("/_sim/reset");
  Stock(card, {{"C3", "3"}});
  const std::string later = PlaceOrder("点卡", 1, "甲");
  setenv("AUTODELIVER_MEMBER_HOST", "127.0.0.1:1", 1);
  RunDeliveryCycle(sender_, stop_, &events);
  setenv("AUTODELIVER_MEMBER_HOST", sim_.host().c_str(), 1);
  EXPECT_EQ(events.lines, (std::vector<std::string>{"seen " + later, "waiting " + later + " nick 0"}));
  EXPECT_EQ(DeliverCardsOf("9", card, "b", "", 0).waitReason, WaitReason::kQuantityNotPositive);
  EXPECT_EQ(DeliverCardsOf("9", card, "b", "", 0).stockLeft, 1);
}

// The cards that orders wait for are summed per item over one cycle, the
// sums handed over at its end and started afresh by the next cycle; every
// event still reaches the observer behind.
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
  const std::string served = PlaceOrder("点卡", 1, "丁");

  RecordingEvents behind;
  WaitingNeeds needs(&behind);
  std::vector<StockCounts> handed;
  needs.SetHandover([&](const StockCounts& sums) { handed.push_back(sums); });
  RunDeliveryCycle(sender_, stop_, &needs);
  ASSERT_EQ(handed.size(), 1u);
  EXPECT_EQ(handed[0], (StockCounts{{card, 8}, {month, 2}}));
  EXPECT_EQ(needs.Last(), handed[0]);
  EXPECT_EQ(behind.lines.size(), 10u);
  EXPECT_EQ(behind.lines[1], "delivered " + served + " 丁 C1/1");

  // Restocked: the next cycle delivers the month card's order and starts
  // its sums afresh.
  Stock(month, {{"M1", "1"}, {"M2", "2"}});
  RunDeliveryCycle(sender_, stop_, &needs);
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_EQ(handed[1], (StockCounts{{card, 8}}));

  // A cycle stopped before its end hands nothing over and keeps the last
  // whole cycle's sums.
  std::atomic<bool> stop{true};
  RunDeliveryCycle(sender_, stop, &needs);
  EXPECT_EQ(handed.size(), 2u);
  EXPECT_EQ(needs.Last(), handed[1]);
}

}  // namespace
}  // namespace autodeliver
