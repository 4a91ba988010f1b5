// The main job end to end through the Wine channel: the program's real
// window, the marketplace imitation and the Win32 IM client imitation under
// Wine in the shared test prefix (a non-Chinese locale). The start-up finds
// the client in the prefix's registry (HOME is a temporary folder, so no
// prefix of the user's is looked at), the deliveries go through the Win32
// helper, and the buyers' chat messages are checked byte for byte; a chat
// window that never opens leaves the order marked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/application.h"
#include "delivery/market_sim_fixture.h"
#include "demo_flow.h"
#include "http/answer_text.h"
#include "im/im_test_support.h"
#include "im/window_system.h"
#include "store/settings.h"
#include "store/undelivered_orders.h"
#include "text/gbk.h"
#include "wine_test_support.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
namespace t = autodeliver::testing;

std::vector<std::string> SimList(const t::MarketSim& sim, const char* list,
                                 const char* field = "orderNumber") {
  std::vector<std::string> out;
  const QJsonObject state = QJsonDocument::fromJson(QByteArray::fromStdString(sim.State())).object();
  for (const QJsonValue& v : state.value(QLatin1String(list)).toArray()) {
    out.push_back(v.toObject().value(QLatin1String(field)).toString().toStdString());
  }
  return out;
}

class WineEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.ok()) << "the marketplace imitation did not start";
    programDir_ = temp_.path() + "/autodeliver";
    std::filesystem::create_directories(programDir_);
    ASSERT_EQ(t::WaitProcess(t::StartProcess({AUTODELIVER_TABLE_TOOL, "init", programDir_}), 60s), 0);
    setenv("AUTODELIVER_DIR", programDir_.c_str(), 1);
    // No desktop handler and no prefix of the user's: only the test prefix.
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"}) {
      const std::string dir = temp_.path() + "/" + name;
      std::filesystem::create_directories(dir);
      setenv(name, dir.c_str(), 1);
    }
    setenv("WINEPREFIX", t::TestPrefix().c_str(), 1);
    // What the program starts under Wine runs with a non-Chinese locale.
    setenv("LANG", "C", 1);
    setenv("LC_ALL", "C", 1);
    instance_ = "wine-e2e-" + std::to_string(getpid());
    setenv("AUTODELIVER_IM_INSTANCE", instance_.c_str(), 1);
    transcript_ = temp_.path() + "/im-transcript.jsonl";
  }

  void TearDown() override {
    unsetenv("AUTODELIVER_DIR");
    unsetenv("WINEPREFIX");
  }

  demo::DemoSettings Settings() {
    demo::DemoSettings settings;
    settings.marketHost = sim_.host();
    settings.transcriptPath = transcript_;
    settings.stepTimeoutMs = 90000;  // the first message pays Wine's start
    return settings;
  }

  static void Print(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }

  // The transcript as "seller|buyer|text" (UTF-8), each line's GBK bytes
  // checked against its text.
  std::vector<std::string> Transcript() {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(transcript_)) return lines;
    for (const std::string& line : t::ReadLines(transcript_)) {
      if (line.empty()) continue;
      const std::string text = t::JsonField(line, "text");
      EXPECT_EQ(t::JsonField(line, "textGbkHex"), HexOfBytes(Utf8ToGbkLossy(text))) << line;
      lines.push_back(t::JsonField(line, "seller") + "|" + t::JsonField(line, "buyer") + "|" + text);
    }
    return lines;
  }

  std::string Log() {
    std::ifstream file(programDir_ + "/data/logs/delivery.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  t::TempDir temp_;
  t::MarketSim sim_;
  std::string programDir_, instance_, transcript_;
};

TEST_F(WineEndToEndTest, OrdersAreDeliveredThroughTheWindowsClientUnderWine) {
  t::WineImClient client(instance_, transcript_);
  ASSERT_EQ(client.Start(), "");
  demo::DemoFlow flow(Settings(), Print);
  const demo::DemoResult result = flow.Run(demo::DefaultScript(sim_.host()));
  ASSERT_TRUE(result.completed) << result.failure;
  ASSERT_EQ(result.orders.size(), 5u);
  for (const demo::OrderOutcome& o : result.orders) {
    EXPECT_EQ(o.fate, o.order.expected) << o.order.buyer << ": " << o.reason;
  }
  EXPECT_TRUE(result.boxes.empty()) << "unexpected message box: " << result.boxes.front();

  // The start-up stored the client of the prefix's registry and said so.
  EXPECT_EQ(GetSetting(ImClientPathSetting()), t::TestClientPath());
  const std::string log = Log();
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
  const std::vector<std::string> consigned = SimList(sim_, "consigned");
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
  demo::DemoFlow flow(Settings(), Print);
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
  EXPECT_TRUE(SimList(sim_, "consignAttempts", "tradeId").empty());
  EXPECT_TRUE(UndeliveredOrders().IsMarked(result.orders[0].orderNumber));
  flow.Close();
}

}  // namespace
}  // namespace autodeliver
