// The main job end to end through the Wine channel: the program's real
// window, the marketplace imitation and the Win32 IM client imitation under
// Wine in the shared test prefix (a non-Chinese locale). The start-up finds
// the client in the prefix's registry (HOME is a temporary folder, so no
// prefix of the user's is looked at), the deliveries go through the Win32
// helper, and the buyers' chat messages are checked byte for byte; a chat
// window that never opens leaves the order marked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/application.h"
#include "demo_flow.h"
#include "http/answer_text.h"
#include "im/im_test_support.h"
#include "im/window_system.h"
#include "store/settings.h"
#include "store/undelivered_orders.h"
#include "support/e2e_fixture.h"
#include "text/gbk.h"
#include "wine_test_support.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
namespace t = autodeliver::testing;

class WineEndToEndTest : public t::EndToEndTest {
 protected:
  WineEndToEndTest() : EndToEndTest("wine-e2e") {}

  void SetUp() override {
    EndToEndTest::SetUp();
    if (HasFatalFailure()) return;
    // No desktop handler and no prefix of the user's: only the test prefix.
    PrivateFolders({"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"});
    setenv("WINEPREFIX", t::TestPrefix().c_str(), 1);
    // What the program starts under Wine runs with a non-Chinese locale.
    setenv("LANG", "C", 1);
    setenv("LC_ALL", "C", 1);
  }

  void TearDown() override {
    EndToEndTest::TearDown();
    unsetenv("WINEPREFIX");
  }
};

TEST_F(WineEndToEndTest, OrdersAreDeliveredThroughTheWindowsClientUnderWine) {
  t::WineImClient client(instance_, transcript_);
  ASSERT_EQ(client.Start(), "");
  demo::DemoFlow flow(shop(), Settings(90000), Print);  // the first message pays Wine's start
  const demo::DemoResult result = flow.Run(demo::DefaultScript(sim_.host()));
  ASSERT_TRUE(result.completed) << result.failure;
  ASSERT_EQ(result.orders.size(), 5u);
  for (const demo::OrderOutcome& o : result.orders) {
    EXPECT_EQ(o.fate, o.order.expected) << o.order.buyer << ": " << o.reason;
  }
  EXPECT_TRUE(result.boxes.empty()) << "unexpected message box: " << result.boxes.front();

  // The start-up stored the client of the prefix's registry and said so.
  EXPECT_EQ(GetSetting(shop(), ImClientPathSetting()), t::TestClientPath());
  const std::string log = DeliveryLog();
  EXPECT_NE(log.find("旺旺客户端：Wine 前缀 " + t::TestPrefix() + " 中的 C:\\AliWangWang\\AliIM.exe"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("已在前缀 " + t::TestPrefix() + " 中启动 64 位助手程序"), std::string::npos) << log;

  // Each buyer got one message (one Enter) with exactly their cards.
  const std::string head = "测试卖家|";
  EXPECT_EQ(Transcript(),
            (std::vector<std::string>{
                head + "买家甲|您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK1001 卡密：pw-aa01\r\n",
                head + "买家乙|您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK1002 卡密：pw-aa02\r\n"
                       "卡号：DK1003-ONLINE 卡密：pw-aa03\r\n",
                head + "买家戊|您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK1004 卡密：pw-aa04\r\n"}));
  const std::vector<std::string> consigned = SimList("consigned");
  EXPECT_EQ(consigned, (std::vector<std::string>{result.orders[0].orderNumber, result.orders[1].orderNumber,
                                                 result.orders[4].orderNumber}));

  // Every chat window was closed.
  std::unique_ptr<WineWindowSystem> look = t::TestHelper();
  ASSERT_NE(look, nullptr);
  for (const char* buyer : {"买家甲", "买家乙", "买家戊"}) {
    EXPECT_EQ(look->FindTopLevel("StandardFrame", ImChatTitle("测试卖家"_gbk, Utf8ToGbkLossy(buyer))), 0u)
        << buyer;
  }
  flow.Close();
}

TEST_F(WineEndToEndTest, ChatWindowThatNeverOpensLeavesTheOrderMarked) {
  t::WineImClient client(instance_, transcript_, {"--no-window"});
  ASSERT_EQ(client.Start(), "");
  demo::DemoFlow flow(shop(), Settings(90000), Print);  // the first message pays Wine's start
  demo::DemoScript script;
  script.itemName = "点卡10元";
  script.cards = {{"DK3001", "pw-c01"}};
  script.orders = {{"点卡10元", "买家甲", 1, demo::Fate::kNotHanded}};
  const auto start = std::chrono::steady_clock::now();
  const demo::DemoResult result = flow.Run(script);
  ASSERT_TRUE(result.completed) << result.failure;
  ASSERT_EQ(result.orders.size(), 1u);
  EXPECT_EQ(result.orders[0].fate, demo::Fate::kNotHanded) << result.orders[0].reason;
  // Within the search bound (30 s) plus Wine's start and the flow's steps.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 80s);
  EXPECT_TRUE(Transcript().empty());
  EXPECT_TRUE(SimList("consignAttempts", "tradeId").empty());
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked(result.orders[0].orderNumber));
  flow.Close();
}

}  // namespace
}  // namespace autodeliver
