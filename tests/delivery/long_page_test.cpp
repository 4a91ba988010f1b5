// A delivery cycle against the marketplace imitation whose first page lists
// 10,000 orders (some 7 MB in its markup, far beyond the 4 MiB a page once
// could have), read as it arrives in windows of 4 KiB (shorter than the
// longest match, so matches lie across windows' ends): every order of a
// monitored item is delivered, wherever it stands on the page, and no other
// order is touched. Real tables and
// card.mdb in a temporary shop folder, a fake IM sender. The imitation's
// state file is written with the imitation's own field coding.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "delivery/cycle.h"
#include "delivery_fixture.h"
#include "export/jet4/jet4_file.h"
#include "http/http_request.h"
#include "market/order_scan.h"
#include "market_sim_fixture.h"
#include "sim_state.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_context.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::FakeSender;
using testing::JsonPart;
using testing::JsonStrings;
using testing::MarketSim;

struct ListedOrder {
  std::string number, title, buyer;
  int quantity = 1;
};

// The imitation's state file with `orders` awaiting shipment for the demo
// seller, in page order.
void WriteSimState(const std::filesystem::path& file, const std::vector<ListedOrder>& orders) {
  std::ofstream out(file, std::ios::binary);
  out << sim::kStateHeader << "\n";
  out << "base 5000 " << orders.size() + 1 << "\n";
  for (const ListedOrder& o : orders) {
    sim::SimOrder listed;
    listed.orderNumber = o.number;
    listed.orderId = o.number + "9";
    listed.title = o.title;
    listed.quantity = o.quantity;
    listed.buyer = o.buyer;
    listed.seller = "测试卖家"_gbk;
    listed.placedAt = "2026-01-01 12:00:00";
    out << "pending " << sim::OrderFields(listed) << "\n";
  }
}

TEST(LongOrderPageTest, EveryMonitoredOrderOfAPageOfTenThousandIsDelivered) {
  testing::ShopFolder folder;
  ASSERT_TRUE(folder.ok()) << folder.error();
  ShopContext& shop = folder.context();
  const std::filesystem::path dir = folder.path();
  ASSERT_TRUE(CreateCardDatabase((dir / "card.mdb").string()));

  // 10,000 orders; those of the monitored card stand at the top, every
  // 850th place and at the very end. The others' titles hold a dash, which
  // the page writes as "&mdash;".
  const std::string card = "点卡10元"_gbk;
  std::vector<ListedOrder> orders;
  std::vector<std::string> monitored;
  int cardsNeeded = 0;
  for (int i = 0; i < 10000; ++i) {
    ListedOrder o;
    o.number = std::to_string(7000000 + i);
    o.buyer = "买家"_gbk + std::to_string(i);
    o.quantity = 1 + i % 3;
    if (i % 850 == 0 || i == 9999) {
      o.title = card;
      monitored.push_back(o.number);
      cardsNeeded += o.quantity;
    } else {
      o.title = "月卡 — 自动发货 "_gbk + std::to_string(i % 40);
    }
    orders.push_back(o);
  }
  ASSERT_EQ(monitored.size(), 13u);
  WriteSimState(dir / "sim.state", orders);

  MarketSim sim({"--state", (dir / "sim.state").string(), "--page-size", "10000"});
  ASSERT_TRUE(sim.ok());
  SetHttpTimeoutForTesting(std::chrono::seconds(60));
  sim.SignIn();
  ASSERT_TRUE(AppendItem(shop, {card, "", 0, true}));
  for (int k = 0; k < cardsNeeded; ++k)
    ASSERT_TRUE(AppendStockCard(shop, {card, "C" + std::to_string(k), "p", 0}));

  // The page the cycle reads is longer than 4 MiB and lists every order.
  const std::string page =
      HttpRequest(sim.Url("/user/order_list_new.htm"), "GET", {}, {}, std::size_t{64} << 20);
  ASSERT_GT(page.size(), std::size_t{4} << 20);

  FakeSender sender;
  std::atomic<bool> stop{false};
  SetOrderScanBoundsForTesting({.window = 4096, .heldLimit = 0});
  const CycleResult result = RunDeliveryCycle(shop, sender, stop);
  SetOrderScanBoundsForTesting({0, 0});
  EXPECT_EQ(result.scanOutcome, ScanOutcome::kListed);
  EXPECT_EQ(result.ordersListed, 10000);
  EXPECT_EQ(result.ordersDelivered, 13);
  EXPECT_EQ(result.ordersConsigned, 13);
  EXPECT_EQ(result.ordersSkipped, 10000 - 13);

  // Each monitored order's buyer got one message, and the marketplace
  // shows exactly those orders as shipped.
  std::set<std::string> buyers;
  for (const testing::SentMessage& m : sender.sent) buyers.insert(m.buyer);
  std::set<std::string> expectedBuyers;
  for (const ListedOrder& o : orders) {
    if (o.title == card) expectedBuyers.insert(o.buyer);
  }
  EXPECT_EQ(sender.sent.size(), 13u);
  EXPECT_EQ(buyers, expectedBuyers);
  const std::vector<std::string> consigned =
      JsonStrings(JsonPart(sim.State(), "consigned", "consignAttempts"), "orderNumber");
  EXPECT_EQ(std::set<std::string>(consigned.begin(), consigned.end()),
            std::set<std::string>(monitored.begin(), monitored.end()));
  EXPECT_TRUE(LoadStockCardsOf(shop, card).empty());
  std::vector<SentCard> sent;
  ASSERT_TRUE(LoadSentCards(shop, &sent));
  EXPECT_EQ(static_cast<int>(sent.size()), cardsNeeded);

  SetHttpTimeoutForTesting(std::chrono::milliseconds(0));
}

}  // namespace
}  // namespace autodeliver
