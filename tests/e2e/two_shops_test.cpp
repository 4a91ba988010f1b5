// Two shops of one seller at once on one display: two marketplace imitations
// with their own seller accounts, two IM client imitations, and the seller's
// main job run through the program's window for each shop in its own process
// (--shop). Each shop must deliver only its own marketplace's orders, from
// its own stock, through its own IM client; a second start of a running shop
// is refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "delivery/market_sim_fixture.h"
#include "im/im_test_support.h"
#include "store/instance_lock.h"
#include "store/rows.h"
#include "store/sent_table.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
namespace t = autodeliver::testing;

struct Shop {
  std::string name, seller, prefix, instance, transcript;
  long long orderBase;
  std::unique_ptr<t::MarketSim> sim;
  pid_t im = -1, demo = -1;
};

TEST(TwoShops, EachDeliversOnlyItsOwnOrdersFromItsOwnStockAndASecondStartIsRefused) {
  t::TempDir temp;
  // The shops and the aliim handler live in folders of this test only.
  for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
    const std::string dir = temp.path() + "/" + name;
    std::filesystem::create_directories(dir);
    setenv(name, dir.c_str(), 1);
  }
  unsetenv("AUTODELIVER_DIR");
  const std::string pid = std::to_string(getpid());
  Shop shops[2] = {{"一店", "一店卖家", "A-", "shop1-" + pid, temp.path() + "/im1.jsonl", 5000, nullptr},
                   {"二店", "二店卖家", "B-", "shop2-" + pid, temp.path() + "/im2.jsonl", 7000, nullptr}};
  for (Shop& s : shops) {
    s.sim = std::make_unique<t::MarketSim>(std::vector<std::string>{
        "--account", s.seller + ":sim123", "--order-base", std::to_string(s.orderBase)});
    ASSERT_TRUE(s.sim->ok()) << s.name;
    ASSERT_EQ(t::WaitProcess(t::StartProcess({AUTODELIVER_TABLE_TOOL, "init", "--shop", s.name}), 60s), 0);
    s.im = t::StartProcess({AUTODELIVER_IM_SIM, "--transcript", s.transcript},
                           {"AUTODELIVER_IM_INSTANCE=" + s.instance});
    ASSERT_GT(s.im, 0);
  }
  ASSERT_EQ(t::WaitProcess(t::StartProcess({AUTODELIVER_IM_SIM, "--install"}), 30s), 0);

  // Both shops at once, each against its own imitations.
  for (Shop& s : shops) {
    const std::string host = s.sim->host();
    s.demo = t::StartProcess({AUTODELIVER_DEMO, "--shop", s.name, "--market", host, "--transcript",
                              s.transcript, "--seller", s.seller, "--card-prefix", s.prefix},
                             {"AUTODELIVER_IM_INSTANCE=" + s.instance, "AUTODELIVER_LOGIN_HOST=" + host,
                              "AUTODELIVER_MEMBER_HOST=" + host, "AUTODELIVER_LOGISTICS_HOST=" + host,
                              "AUTODELIVER_WEB_HOST=" + host, "AUTODELIVER_SERVICE_HOST=" + host,
                              "AUTODELIVER_LOGIN_SCHEME=http"});
    ASSERT_GT(s.demo, 0);
  }
  SetShop(shops[0].name);
  const std::string firstFolder = ProgramDir();
  ASSERT_TRUE(t::WaitUntil([&] { return InstanceLock::HolderPid(firstFolder) == shops[0].demo; }, 60s))
      << "the first shop's run did not lock its folder";
  // The program started again on the running shop ends at once, refused.
  // (A start that is not refused opens its window and does not end.)
  const pid_t second = t::StartProcess({AUTODELIVER_PROGRAM, "--shop", shops[0].name});
  const int secondStatus = t::WaitProcess(second, 30s);
  if (secondStatus < 0) t::StopProcess(second);
  EXPECT_EQ(secondStatus, 1);

  for (Shop& s : shops) {
    const int status = t::WaitProcess(s.demo, 280s);
    if (status < 0) t::StopProcess(s.demo);
    EXPECT_EQ(status, 0) << s.name << "'s run did not finish as expected";
  }

  for (Shop& s : shops) {
    SCOPED_TRACE(s.name);
    SetShop(s.name);
    ShopContext shop(ProgramDir());
    std::vector<SentCard> sent;
    ASSERT_TRUE(LoadSentCards(shop, &sent));
    ASSERT_EQ(sent.size(), 4u);  // three orders delivered, one of two cards
    std::set<std::string> orders;
    for (const SentCard& c : sent) {
      // Its own marketplace's order numbers, its own cards.
      EXPECT_GT(std::stoll(c.orderNumber), s.orderBase);
      EXPECT_LT(std::stoll(c.orderNumber), s.orderBase + 1000);
      EXPECT_EQ(GbkToUtf8Lossy(c.cardPassword).rfind(s.prefix, 0), 0u) << GbkToUtf8Lossy(c.cardPassword);
      orders.insert(c.orderNumber);
    }
    EXPECT_EQ(orders.size(), 3u);
    std::vector<StockCard> left;
    ASSERT_TRUE(LoadAllStockCards(shop, &left));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(GbkToUtf8Lossy(left[0].cardNumber), s.prefix + "DK1005");
    // Its own IM client carried its messages, from its own seller.
    const std::vector<std::string> lines = t::ReadLines(s.transcript);
    int messages = 0;
    for (const std::string& line : lines) {
      if (line.empty()) continue;
      ++messages;
      EXPECT_EQ(t::JsonField(line, "seller"), s.seller);
      EXPECT_NE(t::JsonField(line, "text").find("卡密：" + s.prefix), std::string::npos) << line;
    }
    EXPECT_EQ(messages, 3);
  }
  SetShop("");
  for (Shop& s : shops) {
    if (t::WaitProcess(
            t::StartProcess({AUTODELIVER_IM_SIM, "--quit"}, {"AUTODELIVER_IM_INSTANCE=" + s.instance}),
            10s) != 0 ||
        t::WaitProcess(s.im, 10s) < 0)
      t::StopProcess(s.im);
  }
}

}  // namespace
}  // namespace autodeliver
