// Delivery cycles against a marketplace that serves hostile input: buyer and
// seller nicks that would not reach the IM client as one piece, order pages
// of many megabytes or full of unclosed markup, online cards that answer
// without end. Real tables in a temporary program directory; the
// marketplace is a raw local server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "../http/raw_http_server.h"
#include "../market/order_page_fixture.h"
#include "delivery/card_delivery.h"
#include "delivery/chat_address.h"
#include "delivery/cycle.h"
#include "delivery/events.h"
#include "delivery/message_sender.h"
#include "export/jet4/jet4_file.h"
#include "http/answer_text.h"
#include "http/http_request.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/settings.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::Answer;
using testing::RawHttpServer;
using testing::Reply;

class CountingSender : public MessageSender {
 public:
  bool Send(const std::string&, const std::string&, const std::string&) override {
    ++sent;
    return true;
  }
  int sent = 0;
};

class WaitingEvents : public DeliveryEvents {
 public:
  void OrdersScanned(const OrderScan& scan) override {
    if (scan.outcome != ScanOutcome::kListed) refused.push_back(scan.outcome);
  }
  void OrderWaiting(const PendingOrder&, WaitReason reason, int) override { waits.push_back(reason); }
  std::vector<ScanOutcome> refused;
  std::vector<WaitReason> waits;
};

// The marketplace: the order list page, the profile page with the seller's
// nick, the consign form and an online card, each as the test sets it.
class HostileMarket {
 public:
  HostileMarket()
      : server_([this](const std::string& request) {
          std::lock_guard lock(mutex_);
          if (request.starts_with("GET /user/order_list_new.htm ")) return orderPage_;
          if (request.starts_with("GET /user/baseInfoSet.htm ")) {
            return Answer(200, "<p>" + "亲爱的<b>"_gbk + sellerNick_ + "</b></p>");
          }
          if (request.starts_with("GET /card ")) return cardAnswer_;
          return Answer(200, "ok");
        }) {
    const std::string host = "127.0.0.1:" + std::to_string(server_.port());
    setenv("AUTODELIVER_LOGISTICS_HOST", host.c_str(), 1);
    setenv("AUTODELIVER_MEMBER_HOST", host.c_str(), 1);
  }
  ~HostileMarket() {
    unsetenv("AUTODELIVER_LOGISTICS_HOST");
    unsetenv("AUTODELIVER_MEMBER_HOST");
  }

  void ListOrder(const testing::OrderBlock& order) {
    SetOrderPage(Answer(200, testing::RenderOrderPage({order})));
  }
  void SetOrderPage(Reply reply) {
    std::lock_guard lock(mutex_);
    orderPage_ = std::move(reply);
  }
  void SetSellerNick(const std::string& nick) {
    std::lock_guard lock(mutex_);
    sellerNick_ = nick;
  }
  void SetCardAnswer(Reply reply) {
    std::lock_guard lock(mutex_);
    cardAnswer_ = std::move(reply);
  }
  std::string Url(std::string_view path) const { return server_.Url(path); }
  std::size_t Requests() const { return server_.Requests().size(); }

 private:
  std::mutex mutex_;
  Reply orderPage_ = Answer(200, "");
  std::string sellerNick_ = "店铺A"_gbk;
  Reply cardAnswer_ = Answer(200, "CARD-1");
  RawHttpServer server_;
};

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHttpTimeoutForTesting(std::chrono::seconds(20));
    ASSERT_TRUE(shop_.ok()) << shop_.error();
    ASSERT_TRUE(CreateCardDatabase((dir_ / "card.mdb").string()));
    ASSERT_TRUE(AppendItem(shop(), {kItem, "", 0, true}));
    ASSERT_TRUE(AppendStockCard(shop(), {kItem, "C1", "P1", 0}));
  }
  void TearDown() override { SetHttpTimeoutForTesting(std::chrono::milliseconds(0)); }

  static testing::OrderBlock OrderFor(const std::string& buyer) {
    return {"5001", kItem, "1", buyer, "9001"};
  }
  std::size_t StockLeft() { return LoadStockCardsOf(shop(), kItem).size(); }
  std::size_t SentRecords() {
    std::vector<SentCard> cards;
    LoadSentCards(shop(), &cards);
    return cards.size();
  }
  CycleResult Cycle() { return RunDeliveryCycle(shop(), sender_, stop_, &events_); }

  inline static const std::string kItem = "游戏点卡"_gbk;
  ShopContext& shop() { return shop_.context(); }

  testing::ShopFolder shop_;
  std::filesystem::path dir_ = shop_.path();
  HostileMarket market_;
  CountingSender sender_;
  WaitingEvents events_;
  std::atomic<bool> stop_{false};
};

TEST_F(HostileInputTest, BuyerNicksThatWouldNotReachTheImClientWholeWaitWithNoCardTaken) {
  const std::vector<std::string> nicks = {
      "买家 --quit"_gbk,        // a second argument
      "买家\t2"_gbk,            // TAB splits as well
      "a\\\"b",                 // backslash and quote
      "a\"b c\"",               // quotes
      "x&touid=cntaobaoOTHER",  // another chat partner
      "a'b",
      "a?b",
      "a#b",
      "a%20b",
      "a\r\nb",
      std::string("a\x01"
                  "b"),
      std::string("a\x7f"),
      "",      // no buyer at all
      "\x81",  // not GBK
  };
  for (const std::string& nick : nicks) {
    SCOPED_TRACE(HexOfBytes(nick));
    events_.waits.clear();
    market_.ListOrder(OrderFor(nick));
    const CycleResult result = Cycle();
    ASSERT_EQ(result.ordersListed, 1);
    EXPECT_EQ(result.ordersDelivered, 0);
    EXPECT_EQ(events_.waits, std::vector<WaitReason>{WaitReason::kBuyerNickUnpassable});
    EXPECT_EQ(sender_.sent, 0);
    EXPECT_EQ(StockLeft(), 1u);
    EXPECT_EQ(SentRecords(), 0u);
  }
  EXPECT_EQ(UnpassableNickNotice(WaitReason::kBuyerNickUnpassable), "买家旺旺名含有无法传递的字符"_gbk);

  // A nick of letters, digits, double-byte characters and the other signs
  // nicks use goes through.
  market_.ListOrder(OrderFor("买家_b-1.x·甲"_gbk));
  EXPECT_EQ(Cycle().ordersDelivered, 1);
  EXPECT_EQ(sender_.sent, 1);
  EXPECT_EQ(StockLeft(), 0u);
}

TEST_F(HostileInputTest, SellerNickThatWouldNotReachTheImClientWholeKeepsTheOrderWaiting) {
  market_.ListOrder(OrderFor("买家甲"_gbk));
  for (const std::string& nick : {"店铺 A"_gbk, std::string("shop&touid=cntaobaoX"), std::string("s\"x")}) {
    SCOPED_TRACE(nick);
    events_.waits.clear();
    market_.SetSellerNick(nick);
    EXPECT_EQ(Cycle().ordersDelivered, 0);
    EXPECT_EQ(events_.waits, std::vector<WaitReason>{WaitReason::kSellerNickUnpassable});
    EXPECT_EQ(sender_.sent, 0);
    EXPECT_EQ(StockLeft(), 1u);
  }
  EXPECT_EQ(UnpassableNickNotice(WaitReason::kSellerNickUnpassable), "卖家旺旺名含有无法传递的字符"_gbk);
}

TEST_F(HostileInputTest, PageOfMoreThanSixtyFourMebibytesIsReadToItsLastOrder) {
  // One order at the top, 65 MiB of filler, one order at the very end, sent
  // without a length: the page is read as it arrives, and both orders are
  // delivered.
  ASSERT_TRUE(AppendStockCard(shop(), {kItem, "C2", "P2", 0}));
  const std::vector<testing::OrderBlock> two = {OrderFor("买家甲"_gbk),
                                                {"5002", kItem, "1", "买家乙"_gbk, "9002"}};
  const std::string first = testing::RenderOrderBlock(two[0]);
  const std::string last = testing::RenderOrderBlock(two[1]);
  Reply huge{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + first};
  huge.more = [&last, sent = std::size_t{0}](std::string& next) mutable {
    constexpr std::size_t kFiller = std::size_t{65} << 20;
    if (sent > kFiller) return false;
    if (sent == kFiller) {
      next = last;
      sent += next.size();
      return true;
    }
    next.assign(std::min<std::size_t>(64 << 10, kFiller - sent), ' ');
    sent += next.size();
    return true;
  };
  market_.SetOrderPage(huge);
  const CycleResult result = Cycle();
  EXPECT_EQ(result.scanOutcome, ScanOutcome::kListed);
  EXPECT_EQ(result.ordersListed, 2);
  EXPECT_EQ(result.ordersDelivered, 2);
  EXPECT_TRUE(events_.refused.empty());
  EXPECT_EQ(StockLeft(), 0u);
  EXPECT_EQ(sender_.sent, 2);
}

TEST_F(HostileInputTest, PageCutShortYieldsNoOrderThoughItsFirstOrdersArrived) {
  // The page's first order arrives, then the answer stalls until the time
  // bound: the pairing of an incomplete page is not trusted, nothing goes.
  const std::string page = testing::RenderOrderPage({OrderFor("买家甲"_gbk)});
  Reply stalled{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size() + 100) + "\r\n\r\n" +
                page};
  stalled.holdOpenAfter = true;
  market_.SetOrderPage(stalled);
  SetHttpTimeoutForTesting(std::chrono::seconds(1));
  const CycleResult result = Cycle();
  EXPECT_EQ(result.scanOutcome, ScanOutcome::kNoAnswer);
  EXPECT_EQ(result.ordersListed, 0);
  EXPECT_EQ(sender_.sent, 0);
  EXPECT_EQ(StockLeft(), 1u);
}

TEST_F(HostileInputTest, OpenersThatNeverCloseDoNotCostTheOrdersOfThePage) {
  // Megabytes of openers without their closers, before the order (and far
  // enough from it not to close in it) and after it: the scan passes over
  // them and the order is delivered.
  const std::string openers =
      testing::HostileMarkup(testing::HostileKind::kNickOpeners, std::size_t{3} << 20) +
      std::string(8192, ' ');
  market_.SetOrderPage(Answer(
      200, openers + testing::RenderOrderPage({OrderFor("买家甲"_gbk)},
                                              testing::HostileMarkup(testing::HostileKind::kOrderIdOpeners,
                                                                     std::size_t{3} << 20))));
  const CycleResult result = Cycle();
  EXPECT_EQ(result.scanOutcome, ScanOutcome::kListed);
  EXPECT_EQ(result.ordersListed, 1);
  EXPECT_EQ(result.ordersDelivered, 1);
  EXPECT_TRUE(events_.refused.empty());
  EXPECT_EQ(StockLeft(), 0u);
  EXPECT_EQ(sender_.sent, 1);
}

TEST_F(HostileInputTest, OnlineCardWithAnEndlessAnswerStaysInStock) {
  ASSERT_TRUE(AppendItem(shop(), {"在线卡"_gbk, "", 0, true}));
  ASSERT_TRUE(AppendStockCard(shop(), {"在线卡"_gbk, market_.Url("/card"), "P", 0}));
  Reply endless{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"};
  endless.more = [sent = std::size_t{0}](std::string& next) mutable {
    next.assign(64 << 10, '7');
    sent += next.size();
    return sent < (std::size_t{1} << 30);
  };
  market_.SetCardAnswer(endless);
  market_.ListOrder({"5002", "在线卡"_gbk, "1", "买家乙"_gbk, "9002"});
  EXPECT_EQ(Cycle().ordersDelivered, 0);
  EXPECT_EQ(events_.waits, std::vector<WaitReason>{WaitReason::kOnlineCardFailed});
  EXPECT_EQ(LoadStockCardsOf(shop(), "在线卡"_gbk).size(), 1u);
}

// The IM sender itself never starts the client for a nick that cannot pass:
// the client here is a script that records its arguments.
TEST_F(HostileInputTest, ImSenderNeverPutsAnUnpassableNickOnTheCommandLine) {
  const std::filesystem::path client = dir_ / "client";
  const std::filesystem::path args = dir_ / "client.args";
  {
    std::ofstream script(client);
    script << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << args.string() << "'\n";
  }
  std::filesystem::permissions(client, std::filesystem::perms::owner_all);
  class NoWindows : public WindowSystem {
   public:
    WindowId FindTopLevel(const std::string&, const std::string&) override { return 0; }
    WindowId Related(WindowId, WindowRelation) override { return 0; }
    bool SetText(WindowId, const std::string&) override { return false; }
    bool PressEnter(WindowId) override { return false; }
    bool Close(WindowId) override { return false; }
  } windows;
  ASSERT_TRUE(SetSetting(shop(), ImClientPathSetting(), client.string()));
  ImSendBounds bounds;
  bounds.searchTimeout = std::chrono::milliseconds(10);
  ImMessageSender sender(shop(), bounds, &windows);

  for (const auto& [seller, buyer] :
       std::vector<std::pair<std::string, std::string>>{{"店铺A"_gbk, "买家 --quit"_gbk},
                                                        {"店铺A"_gbk, "x&touid=cntaobaoOTHER"},
                                                        {"店 铺"_gbk, "买家"_gbk}}) {
    EXPECT_FALSE(sender.Send(seller, buyer, "m"));
    EXPECT_FALSE(std::filesystem::exists(args)) << "the client was started";
  }
  // A passable pair does reach the client, as one argument.
  EXPECT_FALSE(sender.Send("店铺A"_gbk, "买家B"_gbk, "m"));  // no chat window appears here
  std::ifstream recorded(args);
  std::string line;
  ASSERT_TRUE(std::getline(recorded, line));
  EXPECT_EQ(line, "aliim:sendmsg?uid=cntaobao店铺A&touid=cntaobao买家B");
  EXPECT_FALSE(std::getline(recorded, line));
}

}  // namespace
}  // namespace autodeliver
