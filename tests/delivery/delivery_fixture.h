// The fixture of the tests that run whole delivery cycles in the core:
// the marketplace imitation on loopback, real tables and card.mdb in a
// temporary program directory, the login cookies in the process cookie
// store, and a fake IM sender; with helpers that read the imitation's state
// and the tables.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "delivery/cycle.h"
#include "delivery/message_sender.h"
#include "export/jet4/jet4_file.h"
#include "http/http_request.h"
#include "market_sim_fixture.h"
#include "store/item_table.h"
#include "store/rows.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"

namespace autodeliver::testing {

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

inline std::string JsonPart(const std::string& json, const std::string& key, const std::string& nextKey) {
  const std::size_t from = json.find("\"" + key + "\"");
  const std::size_t to = json.find("\"" + nextKey + "\"", from);
  return from == std::string::npos ? std::string() : json.substr(from, to - from);
}

class DeliveryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.ok()) << "the imitation did not start";
    SetHttpTimeoutForTesting(std::chrono::seconds(20));
    ASSERT_TRUE(shop_.ok()) << shop_.error();
    ASSERT_TRUE(CreateCardDatabase((dir_ / "card.mdb").string()));
    sim_.SignIn();
  }

  void Monitor(const std::string& item) { ASSERT_TRUE(AppendItem(shop(), {item, "", 0, true})); }
  void Stock(const std::string& item, const std::vector<std::pair<std::string, std::string>>& cards) {
    for (const auto& [number, password] : cards)
      ASSERT_TRUE(AppendStockCard(shop(), {item, number, password, 0}));
  }
  std::vector<std::string> StockNumbers(const std::string& item) {
    std::vector<std::string> numbers;
    for (const StockCard& c : LoadStockCardsOf(shop(), item)) numbers.push_back(c.cardNumber);
    return numbers;
  }
  std::vector<SentCard> Sent() {
    std::vector<SentCard> cards;
    LoadSentCards(shop(), &cards);
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
  CycleResult Cycle() { return RunDeliveryCycle(shop(), sender_, stop_); }
  ShopContext& shop() { return shop_.context(); }

  MarketSim sim_;
  ShopFolder shop_;  // the shop the test delivers from
  std::filesystem::path dir_ = shop_.path();
  FakeSender sender_;
  std::atomic<bool> stop_{false};
};

}  // namespace autodeliver::testing
