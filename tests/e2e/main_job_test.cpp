// The main job end to end: a fresh program directory made by the table
// tool, the marketplace imitation and the IM client imitation (registered as
// the aliim handler in a private XDG folder), and the seller's flow through
// the program's real window (demo_flow.h). Checked as the seller and the
// buyers would see it: the chat messages, the sent-cards table and grid, the
// stock left, the orders the marketplace shows as consigned and as still
// waiting, and the card export file.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QTableView>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/application.h"
#include "demo_flow.h"
#include "im/im_test_support.h"
#include "im/window_system.h"
#include "store/rows.h"
#include "store/sent_table.h"
#include "store/stock_table.h"
#include "support/e2e_fixture.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
namespace t = autodeliver::testing;

// What the imitation's state shows (UTF-8 order numbers).
struct SimView {
  std::vector<std::string> listed, consigned, consignAttempts;
  int orderListRequests = 0;
};

// The sent-cards table as "item|order|buyer|quantity|number|password".
std::vector<std::string> SentTable(ShopContext& shop) {
  std::vector<SentCard> cards;
  EXPECT_TRUE(LoadSentCards(shop, &cards));
  std::vector<std::string> rows;
  for (const SentCard& c : cards) {
    rows.push_back(GbkToUtf8Lossy(c.itemName) + "|" + c.orderNumber + "|" + GbkToUtf8Lossy(c.buyerNick) +
                   "|" + std::to_string(c.quantity) + "|" + GbkToUtf8Lossy(c.cardNumber) + "|" +
                   GbkToUtf8Lossy(c.cardPassword));
  }
  return rows;
}

// The first `columns` cells of every row of a view's model, joined by "|".
std::vector<std::string> ModelRows(const QAbstractItemModel* model, int columns) {
  std::vector<std::string> rows;
  if (!model) return rows;
  for (int r = 0; r < model->rowCount(); ++r) {
    std::string row;
    for (int c = 0; c < columns; ++c) {
      row += (c ? "|" : "") + model->data(model->index(r, c)).toString().toStdString();
    }
    rows.push_back(row);
  }
  return rows;
}

// card.mdb's table as "order|card|password", read with mdb-export.
std::vector<std::string> ExportedCards(const std::string& file) {
  const std::string command = "mdb-export -H -d '|' -q '' '" + file + "' biao";
  std::vector<std::string> rows;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return rows;
  char line[1024];
  while (fgets(line, sizeof line, pipe)) {
    std::string row(line);
    while (!row.empty() && (row.back() == '\n' || row.back() == '\r')) row.pop_back();
    rows.push_back(row);
  }
  pclose(pipe);
  return rows;
}

class MainJobTest : public t::EndToEndTest {
 protected:
  MainJobTest() : EndToEndTest("e2e") {}

  void SetUp() override {
    EndToEndTest::SetUp();
    if (HasFatalFailure()) return;
    // The aliim handler is registered in folders of this test only.
    PrivateFolders({"XDG_DATA_HOME", "XDG_CONFIG_HOME"});
    imClient_ = t::StartProcess({AUTODELIVER_IM_SIM, "--transcript", transcript_});
    ASSERT_GT(imClient_, 0);
    ASSERT_EQ(t::WaitProcess(t::StartProcess({AUTODELIVER_IM_SIM, "--install"}), 30s), 0);
    std::unique_ptr<WindowSystem> windows = OpenX11WindowSystem(nullptr, 5s);
    ASSERT_NE(windows, nullptr);
    ASSERT_TRUE(t::WaitUntil([&] { return windows->FindTopLevel("AutodeliverImSim", instance_) != 0; }, 20s))
        << "the IM client imitation did not come up";
  }

  void TearDown() override {
    if (imClient_ > 0 && (t::WaitProcess(t::StartProcess({AUTODELIVER_IM_SIM, "--quit"}), 10s) != 0 ||
                          t::WaitProcess(imClient_, 10s) < 0)) {
      t::StopProcess(imClient_);
    }
    EndToEndTest::TearDown();
  }

  SimView ReadSim() const {
    return {SimList("orders"), SimList("consigned"), SimList("consignAttempts", "tradeId"),
            OrderListRequests()};
  }

  pid_t imClient_ = -1;
};

TEST_F(MainJobTest, SellerSetsUpDeliveryAndEachBuyerGetsExactlyTheirCards) {
  demo::DemoFlow flow(shop(), Settings(60000), Print);
  const demo::DemoResult result = flow.Run(demo::DefaultScript(sim_.host()));
  ASSERT_TRUE(result.completed) << result.failure;
  ASSERT_NE(flow.program(), nullptr);
  ASSERT_EQ(result.orders.size(), 5u);
  for (const demo::OrderOutcome& o : result.orders) {
    EXPECT_EQ(o.fate, o.order.expected) << o.order.buyer << ": " << o.reason;
  }
  EXPECT_TRUE(result.boxes.empty()) << "unexpected message box: " << result.boxes.front();
  // 甲 x1, 乙 x2, 丙 x5 (more than the stock), 丁 (unmonitored item), 戊 x1.
  const std::string a = result.orders[0].orderNumber, b = result.orders[1].orderNumber,
                    c = result.orders[2].orderNumber, d = result.orders[3].orderNumber,
                    e = result.orders[4].orderNumber;

  // The buyers: one chat message per delivered order, with exactly its cards
  // (the online card resolved by its URL).
  const std::string head = "测试卖家|";
  const std::vector<std::string> messages = {
      head + "买家甲|您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK1001 卡密：pw-aa01\r\n",
      head +
          "买家乙|您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK1002 卡密：pw-aa02\r\n"
          "卡号：DK1003-ONLINE 卡密：pw-aa03\r\n",
      head + "买家戊|您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK1004 卡密：pw-aa04\r\n"};
  EXPECT_EQ(Transcript(), messages);

  // The seller: the sent-cards table and its grid, and the stock left.
  const std::vector<std::string> sent = {
      "点卡10元|" + a + "|买家甲|1|DK1001|pw-aa01", "点卡10元|" + b + "|买家乙|2|DK1002|pw-aa02",
      "点卡10元|" + b + "|买家乙|2|DK1003-ONLINE|pw-aa03", "点卡10元|" + e + "|买家戊|1|DK1004|pw-aa04"};
  EXPECT_EQ(SentTable(shop()), sent);
  MainWindow& window = flow.program()->window();
  auto* grid = window.findChild<QTableView*>(QStringLiteral("高级表格1"));
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(ModelRows(grid->model(), 6), sent);

  std::vector<std::string> stock;
  for (const StockCard& card : LoadStockCardsOf(shop(), "点卡10元"_gbk)) {
    stock.push_back(card.cardNumber + "|" + card.cardPassword);
  }
  EXPECT_EQ(stock, std::vector<std::string>{"DK1005|pw-aa05"});
  auto* stockList = window.findChild<QTreeView*>(QStringLiteral("超级列表框2"));
  ASSERT_NE(stockList, nullptr);
  EXPECT_EQ(ModelRows(stockList->model(), 2), stock);

  // The marketplace: the delivered orders consigned once each, the other two
  // still awaiting shipment (newest first).
  const SimView sim = ReadSim();
  EXPECT_EQ(sim.consigned, (std::vector<std::string>{a, b, e}));
  EXPECT_EQ(sim.consignAttempts, (std::vector<std::string>{a, b, e}));
  EXPECT_EQ(sim.listed, (std::vector<std::string>{d, c}));

  // Two more scans later nothing went out twice and the waiting orders
  // still wait.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return ReadSim().orderListRequests >= sim.orderListRequests + 2; }, 30000))
      << "the delivery timer stopped scanning";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !flow.program()->controller().IsCycleRunning(); }, 30000));
  EXPECT_EQ(Transcript(), messages);
  EXPECT_EQ(SentTable(shop()), sent);
  const SimView later = ReadSim();
  EXPECT_EQ(later.consignAttempts, sim.consignAttempts);
  EXPECT_EQ(later.listed, sim.listed);
  // The card export file holds every delivered card, brought there by the
  // first cycle that delivered nothing.
  EXPECT_EQ(ExportedCards(programDir_ + "/card.mdb"),
            (std::vector<std::string>{a + "|DK1001|pw-aa01", b + "|DK1002|pw-aa02",
                                      b + "|DK1003-ONLINE|pw-aa03", e + "|DK1004|pw-aa04"}));

  // The items page: the one card left and the five the waiting order needs,
  // the row in the warning colour (the default level is 5).
  auto* items = window.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(items->topLevelItemCount(), 1);
  QTreeWidgetItem* row = items->topLevelItem(0);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return row->text(2) == QStringLiteral("1") && row->text(3) == QStringLiteral("5"); }, 30000))
      << row->text(2).toStdString() << " / " << row->text(3).toStdString();
  EXPECT_EQ(row->background(0).color(), ItemsPage::WarningColour());

  // The program kept its delivery log in the data folder all along: each
  // order's fate with its buyer, the stock warning of the item (it had no
  // card when it was added), and no card password.
  const std::string log = DeliveryLog();
  for (const std::string& line :
       {"订单 " + a + "（买家 买家甲）：卡密消息已交给旺旺发给买家",
        "订单 " + b + "（买家 买家乙）：已向淘宝提交发货（无需物流）",
        "订单 " + c + "（买家 买家丙）：库存不足（库存 2 张，需要 5 张），等待补货",
        "订单 " + d + "（买家 买家丁）：宝贝“游戏月卡”不在监控列表中，跳过", std::string("本轮结束：列出 "),
        std::string("[警告] 库存预警：宝贝“点卡10元”只剩 0 张卡密（预警线 5 张）")}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(log.find("pw-aa"), std::string::npos);

  flow.Close();
  EXPECT_EQ(flow.program(), nullptr);
}

}  // namespace
}  // namespace autodeliver
