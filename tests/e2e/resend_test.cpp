// The resend end to end: the IM client imitation is away when the first
// cycle delivers an order (its cards are recorded, the order stays listed
// and is marked as not delivered, and the sent-cards page paints it), then
// the IM client comes back and the seller finds the order with the search
// box, selects its rows and presses "重新发送" in the program's real window.
// Checked as the buyer and the seller see it: the buyer's chat has the
// message once, the marketplace shows the order consigned, the mark is
// gone, no card left the stock, and the delivery log tells the story.
//
// And left alone: the IM client imitation is away while three orders
// arrive over three cycles. Only the first order's cards are taken; the
// other two wait untouched with "阿里旺旺未响应". Once the imitation runs
// again, the program sends each order once with its own cards and consigns
// it, with nobody at the window; the status line's counts follow each step.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/application.h"
#include "delivery/card_delivery.h"
#include "demo_flow.h"
#include "im/im_test_support.h"
#include "im/window_system.h"
#include "pages/sent_cards_filter.h"
#include "store/rows.h"
#include "store/sent_table.h"
#include "store/settings.h"
#include "store/stock_table.h"
#include "store/undelivered_orders.h"
#include "support/e2e_fixture.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
namespace t = autodeliver::testing;

class ResendEndToEndTest : public t::EndToEndTest {
 protected:
  ResendEndToEndTest() : EndToEndTest("e2e-resend") {}

  void SetUp() override {
    EndToEndTest::SetUp();
    if (HasFatalFailure()) return;
    // The IM client is installed (an earlier start stored its path) but not
    // running: the seller is away from it.
    ASSERT_TRUE(SetSetting(shop(), ImClientPathSetting(), AUTODELIVER_IM_SIM));
  }

  void TearDown() override {
    if (imClient_ > 0 && (t::WaitProcess(t::StartProcess({AUTODELIVER_IM_SIM, "--quit"}), 10s) != 0 ||
                          t::WaitProcess(imClient_, 10s) < 0)) {
      t::StopProcess(imClient_);
    }
    EndToEndTest::TearDown();
  }

  void StartImClient() {
    imClient_ = t::StartProcess({AUTODELIVER_IM_SIM, "--transcript", transcript_});
    ASSERT_GT(imClient_, 0);
    std::unique_ptr<WindowSystem> windows = OpenX11WindowSystem(nullptr, 5s);
    ASSERT_NE(windows, nullptr);
    ASSERT_TRUE(t::WaitUntil([&] { return windows->FindTopLevel("AutodeliverImSim", instance_) != 0; }, 20s))
        << "the IM client imitation did not come up";
  }

  pid_t imClient_ = -1;
};

TEST_F(ResendEndToEndTest, OrderMarkedWhileTheImClientWasAwayIsResentFromThePageOnce) {
  // The first message waits out the IM search bound.
  demo::DemoFlow flow(shop(), Settings(90000), Print);
  demo::DemoScript script;
  script.itemName = "点卡10元";
  script.cards = {{"DK2001", "pw-b01"}, {"DK2002", "pw-b02"}, {"DK2003", "pw-b03"}};
  script.orders = {{"点卡10元", "买家甲", 2, demo::Fate::kNotHanded}};
  const demo::DemoResult result = flow.Run(script);
  ASSERT_TRUE(result.completed) << result.failure;
  ASSERT_EQ(result.orders.size(), 1u);
  ASSERT_EQ(result.orders[0].fate, demo::Fate::kNotHanded) << result.orders[0].reason;
  const std::string order = result.orders[0].orderNumber;

  // The first cycle: cards recorded, the order listed, not consigned, marked.
  EXPECT_TRUE(Transcript().empty());
  EXPECT_EQ(SimList("orders"), std::vector<std::string>{order});
  EXPECT_TRUE(SimList("consignAttempts", "tradeId").empty());
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked(order));
  Application& program = *flow.program();
  MainWindow& window = program.window();
  auto find = [&](auto* type, const char* name) {
    return window.findChild<std::remove_pointer_t<decltype(type)>*>(QString::fromUtf8(name));
  };
  auto* grid = find((QTableView*)nullptr, "高级表格1");
  auto* searchBox = find((QLineEdit*)nullptr, "已发搜索框");
  auto* resendButton = find((QPushButton*)nullptr, "重新发送");
  auto* note = find((QLabel*)nullptr, "已发提示");
  auto* tabs = find((QTabWidget*)nullptr, "高级选择夹1");
  ASSERT_TRUE(grid && searchBox && resendButton && note && tabs);
  ASSERT_EQ(grid->model()->rowCount(), 2);
  EXPECT_EQ(grid->model()->index(0, 0).data(Qt::BackgroundRole).value<QColor>(),
            SentCardsFilter::MarkedBackground());

  // The IM client is back; the seller finds the order and resends it.
  StartImClient();
  tabs->setCurrentIndex(1);
  searchBox->setFocus();
  QTest::keyClicks(searchBox, QString::fromStdString(order));
  ASSERT_EQ(grid->model()->rowCount(), 2);
  grid->selectAll();
  QSignalSpy finished(&program.pages().sentCards, &SentCardsPage::resendFinished);
  // The delivery timer keeps ticking; the button is pressed between two
  // cycles (a tick starts a cycle only on this thread).
  ASSERT_TRUE(QTest::qWaitFor([&] { return !program.controller().IsCycleRunning(); }, 30000));
  resendButton->click();
  ASSERT_TRUE(note->text().startsWith(QStringLiteral("正在把订单"))) << note->text().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 90000)) << note->text().toStdString();
  std::printf("[seller] the note reads: %s\n", note->text().toStdString().c_str());
  // A picture of the page after the resend, when asked for.
  if (const char* shots = std::getenv("AUTODELIVER_E2E_SCREENSHOTS")) {
    searchBox->clear();
    grid->scrollToBottom();
    QTest::qWait(200);
    window.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/resend-done.png"));
  }

  // The buyer: the message of the first delivery, once.
  const std::vector<std::string> messages = {
      "测试卖家|买家甲|您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK2001 卡密：pw-b01\r\n卡号：DK2002 "
      "卡密：pw-b02\r\n"};
  EXPECT_EQ(Transcript(), messages);
  // The marketplace: consigned, no longer awaiting shipment.
  EXPECT_EQ(SimList("consigned"), std::vector<std::string>{order});
  EXPECT_TRUE(SimList("orders").empty());
  // The seller: the mark is gone, the grid unpainted, no card left the stock.
  EXPECT_FALSE(UndeliveredOrders(shop()).IsMarked(order));
  EXPECT_FALSE(grid->model()->index(0, 0).data(Qt::BackgroundRole).isValid());
  EXPECT_EQ(note->text(),
            QStringLiteral("订单 %1 的 2 张卡密已重新发给买家 买家甲，并已提交发货；未送达标记已清除")
                .arg(QString::fromStdString(order)))
      << note->text().toStdString();
  std::vector<std::string> stock;
  for (const StockCard& card : LoadStockCardsOf(shop(), "点卡10元"_gbk)) stock.push_back(card.cardNumber);
  EXPECT_EQ(stock, std::vector<std::string>{"DK2003"});
  std::vector<SentCard> sent;
  ASSERT_TRUE(LoadSentCards(shop(), &sent));
  EXPECT_EQ(sent.size(), 2u);

  // Two scans later nothing went out twice.
  const int scans = OrderListRequests();
  ASSERT_TRUE(QTest::qWaitFor([&] { return OrderListRequests() >= scans + 2; }, 30000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !program.controller().IsCycleRunning(); }, 30000));
  EXPECT_EQ(Transcript(), messages);
  EXPECT_EQ(SimList("consignAttempts", "tradeId"), std::vector<std::string>{order});

  // The delivery log: the message that did not get through, then the resend.
  const std::string log = DeliveryLog();
  const std::size_t lost = log.find("订单 " + order + "（买家 买家甲）：卡密消息没能交给旺旺");
  const std::size_t resent = log.find(
      "订单 " + order + "（买家 买家甲）：已把记录中的 2 张卡密重新交给旺旺发给买家（卡号 D…1、D…2）");
  EXPECT_NE(lost, std::string::npos) << log;
  EXPECT_NE(resent, std::string::npos) << log;
  EXPECT_LT(lost, resent);
  EXPECT_EQ(log.find("pw-b0"), std::string::npos);

  flow.Close();
}

// The cards the sent-cards table holds per order (GBK numbers and passwords).
std::map<std::string, std::vector<DeliveredCard>> SentByOrder(ShopContext& shop) {
  std::map<std::string, std::vector<DeliveredCard>> out;
  std::vector<SentCard> sent;
  if (LoadSentCards(shop, &sent))
    for (const SentCard& card : sent) out[card.orderNumber].push_back({card.cardNumber, card.cardPassword});
  return out;
}

// The same as "number|password" texts, for comparing.
std::map<std::string, std::vector<std::string>> Texts(
    const std::map<std::string, std::vector<DeliveredCard>>& cards) {
  std::map<std::string, std::vector<std::string>> out;
  for (const auto& [order, list] : cards)
    for (const DeliveredCard& card : list) out[order].push_back(card.cardNumber + "|" + card.cardPassword);
  return out;
}

TEST_F(ResendEndToEndTest, OrdersArrivingWhileTheImClientIsAwayGoOutOnceEachWhenItIsBack) {
  // The first message waits out the IM search bound.
  demo::DemoFlow flow(shop(), Settings(90000), Print);
  demo::DemoScript script;
  script.itemName = "点卡10元";
  script.cards = {{"DK3001", "pw-c01"},
                  {"DK3002", "pw-c02"},
                  {"DK3003", "pw-c03"},
                  {"DK3004", "pw-c04"},
                  {"DK3005", "pw-c05"}};
  // The first order arrives in the first cycle, while the client is away.
  script.orders = {{"点卡10元", "买家甲", 1, demo::Fate::kNotHanded}};
  const demo::DemoResult result = flow.Run(script);
  ASSERT_TRUE(result.completed) << result.failure;
  ASSERT_EQ(result.orders.size(), 1u);
  ASSERT_EQ(result.orders[0].fate, demo::Fate::kNotHanded) << result.orders[0].reason;
  std::vector<std::string> orders = {result.orders[0].orderNumber};
  Application& program = *flow.program();
  const auto status = [&] { return program.watch().statusLine.text().toStdString(); };
  const auto cycleEnded = [&](const std::string& expected) {
    return QTest::qWaitFor(
        [&] {
          return !program.controller().IsCycleRunning() && status().find(expected) != std::string::npos;
        },
        60000);
  };
  const std::string away = "阿里旺旺未响应";
  ASSERT_TRUE(cycleEnded("今日发货 0 笔 | 未送达 1 笔 | 等待补货 0 笔")) << status();
  EXPECT_NE(status().find(away), std::string::npos) << status();
  const std::map<std::string, std::vector<DeliveredCard>> firstCards = SentByOrder(shop());
  ASSERT_EQ(firstCards.size(), 1u);
  ASSERT_EQ(firstCards.count(orders[0]), 1u);

  // Two more orders, each seen by a cycle of its own: no card taken, the
  // order left listed and unmarked, the reason in the log and the status.
  const auto log = [&] { return DeliveryLog(); };
  for (const auto& [buyer, quantity] : {std::pair<const char*, int>{"买家乙", 2}, {"买家丙", 1}}) {
    const int scans = OrderListRequests();
    const std::vector<std::string> placed = t::JsonStrings(
        sim_.Call("/_sim/place_order",
                  {{"title", "点卡10元"}, {"buyer", buyer}, {"quantity", std::to_string(quantity)}}),
        "orderNumber");
    ASSERT_EQ(placed.size(), 1u);
    orders.push_back(placed[0]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return OrderListRequests() > scans; }, 30000));
    ASSERT_TRUE(cycleEnded("今日发货 0 笔 | 未送达 1 笔 | 等待补货 0 笔")) << status();
    EXPECT_NE(status().find(away), std::string::npos) << status();
    EXPECT_EQ(Texts(SentByOrder(shop())), Texts(firstCards)) << buyer;
    EXPECT_FALSE(UndeliveredOrders(shop()).IsMarked(placed[0]));
    EXPECT_NE(log().find("订单 " + placed[0] + "（买家 " + buyer + "）：" + away), std::string::npos)
        << log();
  }
  EXPECT_TRUE(Transcript().empty());
  std::vector<std::string> listed = SimList("orders");
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, orders);
  EXPECT_TRUE(SimList("consignAttempts", "tradeId").empty());
  EXPECT_EQ(LoadStockCardsOf(shop(), "点卡10元"_gbk).size(), 4u);

  // The client is back: every order goes out, nobody touching the window.
  StartImClient();
  ASSERT_TRUE(QTest::qWaitFor([&] { return SimList("consigned").size() == 3; }, 120000)) << status() << "\n"
                                                                                         << log();
  ASSERT_TRUE(cycleEnded("今日发货 3 笔 | 等待补货 0 笔")) << status();
  // Two scans later nothing went out twice.
  const int scans = OrderListRequests();
  ASSERT_TRUE(QTest::qWaitFor([&] { return OrderListRequests() >= scans + 2; }, 30000));
  ASSERT_TRUE(cycleEnded("今日发货 3 笔 | 等待补货 0 笔")) << status();
  EXPECT_EQ(status().find(away), std::string::npos) << status();
  EXPECT_EQ(status().find("未送达"), std::string::npos) << status();

  // Each order once, to its own buyer, with its own cards: the first with
  // the cards taken for it while the client was away.
  const std::map<std::string, std::vector<DeliveredCard>> sent = SentByOrder(shop());
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(Texts(sent).at(orders[0]), Texts(firstCards).at(orders[0]));
  EXPECT_EQ(sent.at(orders[1]).size(), 2u);
  EXPECT_EQ(sent.at(orders[2]).size(), 1u);
  const std::vector<const char*> buyers = {"买家甲", "买家乙", "买家丙"};
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < 3; ++i) {
    expected.push_back(std::string("测试卖家|") + buyers[i] + "|" +
                       GbkToUtf8Lossy(DeliveryMessage("点卡10元"_gbk, sent.at(orders[i]))));
  }
  std::vector<std::string> received = Transcript();
  std::sort(expected.begin(), expected.end());
  std::sort(received.begin(), received.end());
  EXPECT_EQ(received, expected);
  std::vector<std::string> consigned = SimList("consigned");
  std::vector<std::string> attempts = SimList("consignAttempts", "tradeId");
  std::sort(consigned.begin(), consigned.end());
  std::sort(attempts.begin(), attempts.end());
  EXPECT_EQ(consigned, orders);
  EXPECT_EQ(attempts, orders);
  EXPECT_TRUE(SimList("orders").empty());
  EXPECT_TRUE(UndeliveredOrders(shop()).List().empty());
  std::vector<std::string> left;
  for (const StockCard& card : LoadStockCardsOf(shop(), "点卡10元"_gbk)) left.push_back(card.cardNumber);
  EXPECT_EQ(left, std::vector<std::string>{"DK3005"});

  flow.Close();
}

}  // namespace
}  // namespace autodeliver
