#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/settings.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/store_lock.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"
#include "table_files.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

class ShopTables : public testing::ShopTest {
 protected:
  static StockCard Card(const std::string& item, const std::string& number) {
    return {item, number, "pw" + number, 0};
  }

  static std::vector<std::string> Numbers(const std::vector<StockCard>& cards) {
    std::vector<std::string> out;
    for (const auto& c : cards) out.push_back(c.cardNumber);
    return out;
  }

  // Marks record `n` of a table directly, as an access cut short between
  // its mark and its purge would leave it.
  static void MarkOnly(const std::string& path, int n) {
    RecordTable t;
    ASSERT_TRUE(t.Open(path));
    ASSERT_TRUE(t.GoTo(n));
    ASSERT_TRUE(t.MarkDeleted());
  }
};

TEST_F(ShopTables, MissingAndEmptyTablesFailSilently) {
  // Empty tables first.
  std::vector<MonitoredItem> items{{"keep", "", 0, true}};
  EXPECT_TRUE(LoadItems(shop(), &items));
  EXPECT_TRUE(items.empty());
  EXPECT_TRUE(LoadStockCardsOf(shop(), "x").empty());
  EXPECT_FALSE(ItemExists(shop(), "x"));
  EXPECT_FALSE(TakeStockCard(shop(), "x"));
  EXPECT_FALSE(SentCardExists(shop(), "1"));
  EXPECT_FALSE(ReadItemAt(shop(), 1));
  EXPECT_FALSE(DeleteItemAt(shop(), 1));

  // Then no tables at all.
  testing::TempDir empty;
  ShopContext emptyShop(empty.path());
  items = {{"keep", "", 0, true}};
  EXPECT_FALSE(LoadItems(emptyShop, &items));
  EXPECT_EQ(items.size(), 1u);  // untouched
  EXPECT_TRUE(LoadItemNames(emptyShop).empty());
  EXPECT_FALSE(AppendItem(emptyShop, {"a", "", 0, true}));
  EXPECT_FALSE(ItemExists(emptyShop, "a"));
  EXPECT_FALSE(AppendStockCard(emptyShop, Card("a", "1")));
  EXPECT_FALSE(TakeStockCard(emptyShop, "a"));
  EXPECT_FALSE(AppendSentCard(emptyShop, {}));
  EXPECT_FALSE(SentCardExists(emptyShop, ""));
  EXPECT_FALSE(PurgeStock(emptyShop));
  EXPECT_EQ(GetSetting(emptyShop, "阿里旺旺核心文件路径"_gbk), "");
  EXPECT_FALSE(SetSetting(emptyShop, "阿里旺旺核心文件路径"_gbk, "/x"));
}

TEST_F(ShopTables, ItemsMatchExactlyAndRowsFollowRecords) {
  const std::string name = "点卡 ABC"_gbk;
  for (const std::string& n : {name, "点卡 abc"_gbk, name + " ", "other"_gbk})
    ASSERT_TRUE(AppendItem(shop(), {n, "", 0, true}));
  EXPECT_TRUE(ItemExists(shop(), name));
  EXPECT_FALSE(ItemExists(shop(), "点卡 abc "_gbk));
  EXPECT_FALSE(ItemExists(shop(), "点卡"_gbk));
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{name, "点卡 abc"_gbk, name + " ", "other"}));

  ASSERT_TRUE(DeleteItemAt(shop(), 2));
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{name, name + " ", "other"}));
  ASSERT_TRUE(WriteItemAt(shop(), 99, {"last", "note", 5, false}));  // clamps to record 3
  auto item = ReadItemAt(shop(), 3);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->name, "last");
  EXPECT_EQ(item->remark, "note");
  EXPECT_EQ(item->purchaseLimit, 5);
  EXPECT_FALSE(item->needsCard);
}

TEST_F(ShopTables, StoredLimitAndYesNoTextsAreRead) {
  struct Case {
    std::string limit, needs;
    int expectedLimit;
    bool expectedNeeds;
  } cases[] = {
      {"12", "是"_gbk, 12, true}, {"１２"_gbk, "真"_gbk, 12, true}, {"-3x", "假"_gbk, -3, false},
      {"abc", "", 0, false},      {"", "真 "_gbk, 0, false},        {"７"_gbk, "yes", 7, false},
  };
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(shop().ItemsTablePath()));
    for (const Case& c : cases) ASSERT_TRUE(t.Append({"n", "", c.limit, c.needs}));
  }
  std::vector<MonitoredItem> items;
  ASSERT_TRUE(LoadItems(shop(), &items));
  ASSERT_EQ(items.size(), std::size(cases));
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].purchaseLimit, cases[i].expectedLimit) << i;
    EXPECT_EQ(items[i].needsCard, cases[i].expectedNeeds) << i;
  }
  // A new item is stored with limit "0" and "真".
  ASSERT_TRUE(AppendItem(shop(), {"new", "", 0, true}));
  RecordTable t;
  ASSERT_TRUE(t.Open(shop().ItemsTablePath()));
  t.GoTo(99);
  EXPECT_EQ(t.Read("限拍件数"_gbk), "0");
  EXPECT_EQ(t.Read("是否需要卡密信息"_gbk), "真"_gbk);
}

TEST_F(ShopTables, CardsLeaveOldestFirstAndRemovalIsTwoStep) {
  for (const char* n : {"1", "2", "3"}) ASSERT_TRUE(AppendStockCard(shop(), Card("A", n)));
  ASSERT_TRUE(AppendStockCard(shop(), Card("a", "lower")));
  auto taken = TakeStockCard(shop(), "A");
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->cardNumber, "1");
  EXPECT_EQ(taken->cardPassword, "pw1");
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "A")), (std::vector<std::string>{"2", "3"}));
  auto cards = LoadStockCardsOf(shop(), "a");
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards[0].recordNumber, 3);  // numbers shifted by the purge

  // Five cards of B behind; mark the 2nd and 4th of them, then purge.
  for (const char* n : {"b1", "b2", "b3", "b4", "b5"}) ASSERT_TRUE(AppendStockCard(shop(), Card("B", n)));
  auto b = LoadStockCardsOf(shop(), "B");
  ASSERT_EQ(b.size(), 5u);
  EXPECT_EQ(b[0].recordNumber, 4);
  ASSERT_TRUE(MarkStockCardAt(shop(), b[1].recordNumber));
  ASSERT_TRUE(MarkStockCardAt(shop(), b[3].recordNumber));  // still valid: no purge yet
  ASSERT_TRUE(PurgeStock(shop()));
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "B")), (std::vector<std::string>{"b1", "b3", "b5"}));

  ASSERT_TRUE(RenameStockItem(shop(), "B", "C"));
  EXPECT_TRUE(LoadStockCardsOf(shop(), "B").empty());
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "C")), (std::vector<std::string>{"b1", "b3", "b5"}));
  ASSERT_TRUE(MarkStockCardsOf(shop(), "C"));
  ASSERT_TRUE(PurgeStock(shop()));
  EXPECT_TRUE(LoadStockCardsOf(shop(), "C").empty());
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "A")), (std::vector<std::string>{"2", "3"}));
}

TEST_F(ShopTables, MarkedRecordsAreNeverServedAsLive) {
  for (const char* n : {"1", "2", "3"}) ASSERT_TRUE(AppendStockCard(shop(), Card("A", n)));
  ASSERT_TRUE(AppendItem(shop(), {"gone", "", 0, true}));
  ASSERT_TRUE(AppendItem(shop(), {"kept", "", 0, true}));
  SentCard sent;
  sent.orderNumber = "555";
  ASSERT_TRUE(AppendSentCard(shop(), sent));
  MarkOnly(shop().StockTablePath(), 1);
  MarkOnly(shop().ItemsTablePath(), 1);
  MarkOnly(shop().SentTablePath(), 1);

  auto cards = LoadStockCardsOf(shop(), "A");
  EXPECT_EQ(Numbers(cards), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(cards[0].recordNumber, 2);  // the real record number
  auto taken = TakeStockCard(shop(), "A");
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->cardNumber, "2");
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "A")), (std::vector<std::string>{"3"}));

  EXPECT_FALSE(ItemExists(shop(), "gone"));
  EXPECT_FALSE(SentCardExists(shop(), "555"));
  std::vector<SentCard> sentCards{sent};
  ASSERT_TRUE(LoadSentCards(shop(), &sentCards));
  EXPECT_TRUE(sentCards.empty());
  // The load drops the leftover mark, so row 0 is record 1 again.
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"kept"}));
  auto item = ReadItemAt(shop(), 1);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->name, "kept");
}

TEST_F(ShopTables, LongValuesAreStoredWhole) {
  // Tables whose names and numbers are long texts, as earlier installations
  // have them (the installed layout's widths: table_layout_test.cpp).
  ASSERT_EQ(std::remove(shop().SentTablePath().c_str()), 0);
  ASSERT_EQ(std::remove(CompanionFilePath(shop().SentTablePath()).c_str()), 0);
  ASSERT_TRUE(CreateTable(shop().SentTablePath(), SentTableFields(TableLayout::kLongTexts)));
  SentCard c;
  c.itemName = std::string(300, 'T') + "标题"_gbk;
  c.orderNumber = "123456789012345678901234567890123456789012345678901234567890";
  c.buyerNick = "买家"_gbk;
  c.quantity = 3;
  c.cardNumber = std::string(2000, 'n');
  c.cardPassword = "http://example.invalid/" + std::string(700, 'u');
  c.remark = "";
  c.sentAt = "2012年11月20日9时5分"_gbk;
  ASSERT_TRUE(AppendSentCard(shop(), c));
  EXPECT_TRUE(SentCardExists(shop(), c.orderNumber));
  EXPECT_FALSE(SentCardExists(shop(), c.orderNumber.substr(1)));
  std::vector<SentCard> all;
  ASSERT_TRUE(LoadSentCards(shop(), &all));
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].itemName, c.itemName);
  EXPECT_EQ(all[0].orderNumber, c.orderNumber);
  EXPECT_EQ(all[0].quantity, 3);
  EXPECT_EQ(all[0].cardNumber, c.cardNumber);
  EXPECT_EQ(all[0].cardPassword, c.cardPassword);
  EXPECT_EQ(all[0].sentAt, c.sentAt);

  // A value too wide for its fixed-width field (48 bytes) is refused whole,
  // never cut: nothing is written. (The delivery checks its rows before it
  // takes a card, so an order whose row cannot be written waits, with every
  // card in stock.)
  c.orderNumber = "2";
  c.sentAt = std::string(47, '9') + "年"_gbk;
  EXPECT_FALSE(AppendSentCard(shop(), c));
  EXPECT_FALSE(SentCardExists(shop(), "2"));
  ASSERT_TRUE(LoadSentCards(shop(), &all));
  EXPECT_EQ(all.size(), 1u);
}

TEST_F(ShopTables, SettingsFirstRowOnly) {
  const std::string key = "阿里旺旺核心文件路径"_gbk;
  EXPECT_EQ(GetSetting(shop(), key), "");
  const std::string path = " /opt/im/" + std::string(400, 'p') + "/核心.exe "_gbk;
  ASSERT_TRUE(SetSetting(shop(), key, path));
  EXPECT_EQ(GetSetting(shop(), key), path);  // spaces kept, nothing cut
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(shop().SettingsTablePath()));
    ASSERT_TRUE(t.Append({key, "second"}));
  }
  ASSERT_TRUE(SetSetting(shop(), key, "first"));
  EXPECT_EQ(GetSetting(shop(), key), "first");
  RecordTable t;
  ASSERT_TRUE(t.Open(shop().SettingsTablePath()));
  t.GoTo(2);
  EXPECT_EQ(t.Read("配置数据"_gbk), "second");
  t.GoTo(1);
  EXPECT_EQ(t.Read("配置名"_gbk), key);
  t.Close();

  EXPECT_FALSE(SetSetting(shop(), "other", "x"));
  EXPECT_EQ(GetSetting(shop(), "other"), "");
  EXPECT_EQ(GetSetting(shop(), AsciiLower(key) + " "), "");
}

// A batched append holds the table (and the store lock) for the whole run,
// reports after each batch, and when stopped keeps exactly what it wrote.
TEST_F(ShopTables, BatchedAppendReportsAndStopsBetweenBatches) {
  std::vector<ImportedCard> cards;
  for (int i = 0; i < 2500; ++i) cards.push_back({"n" + std::to_string(i), "p" + std::to_string(i)});
  ASSERT_TRUE(AppendStockCard(shop(), Card("A", "old")));

  std::vector<std::size_t> reports;
  bool othersLockedOut = true;
  auto report = [&](std::size_t written) {
    reports.push_back(written);
    // Another thread cannot get between two batches.
    std::thread([&] {
      if (shop().StoreLock().try_lock()) {
        othersLockedOut = false;
        shop().StoreLock().unlock();
      }
    }).join();
    return true;
  };
  EXPECT_EQ(AppendStockCards(shop(), "A", cards, report, 1000), cards.size());
  EXPECT_EQ(reports, (std::vector<std::size_t>{1000, 2000, 2500}));
  EXPECT_TRUE(othersLockedOut);
  std::vector<StockCard> stock = LoadStockCardsOf(shop(), "A");
  ASSERT_EQ(stock.size(), cards.size() + 1);
  EXPECT_EQ(stock[0].cardNumber, "old");
  for (std::size_t i = 0; i < cards.size(); ++i) {
    ASSERT_EQ(stock[i + 1].cardNumber, cards[i].cardNumber);
    ASSERT_EQ(stock[i + 1].cardPassword, cards[i].cardPassword);
  }

  // Cancelled after the second batch: the first 2 x 300 cards are in.
  int calls = 0;
  EXPECT_EQ(AppendStockCards(
                shop(), "B", cards, [&](std::size_t) { return ++calls < 2; }, 300),
            600u);
  stock = LoadStockCardsOf(shop(), "B");
  ASSERT_EQ(stock.size(), 600u);
  EXPECT_EQ(stock.back().cardNumber, "n599");

  EXPECT_EQ(AppendStockCards(shop(), "C", {}), 0u);
  testing::TempDir empty;
  ShopContext emptyShop(empty.path());
  calls = 0;
  EXPECT_EQ(AppendStockCards(emptyShop, "A", cards, [&](std::size_t) { return ++calls > 0; }), 0u);
  EXPECT_EQ(calls, 0);
}

TEST_F(ShopTables, PutSettingAddsItsOwnRowsBehindTheInstalledOne) {
  const std::string key = "阿里旺旺核心文件路径"_gbk, own = "通知:库存预警"_gbk;
  ASSERT_TRUE(SetSetting(shop(), key, "/opt/im"));
  EXPECT_FALSE(SetSetting(shop(), own, "0"));  // SetSetting never adds a row
  ASSERT_TRUE(PutSetting(shop(), own, "0"));
  EXPECT_EQ(GetSetting(shop(), own), "0");
  ASSERT_TRUE(PutSetting(shop(), own, "1"));  // overwritten in place, not added twice
  EXPECT_EQ(GetSetting(shop(), own), "1");
  ASSERT_TRUE(PutSetting(shop(), key, "/opt/im2"));  // an existing row is only overwritten
  // A name wider than its field is refused and writes nothing.
  EXPECT_FALSE(PutSetting(shop(), std::string(65, 'n'), "x"));

  RecordTable t;
  ASSERT_TRUE(t.Open(shop().SettingsTablePath()));
  ASSERT_EQ(t.RecordCount(), 2);
  t.GoTo(1);
  EXPECT_EQ(t.Read("配置名"_gbk), key);
  EXPECT_EQ(t.Read("配置数据"_gbk), "/opt/im2");
  t.GoTo(2);
  EXPECT_EQ(t.Read("配置名"_gbk), own);
  EXPECT_EQ(t.Read("配置数据"_gbk), "1");
}

TEST_F(ShopTables, TwoThreadsNeverTakeTheSameCard) {
  constexpr int kCards = 300;
  for (int i = 0; i < kCards; ++i) ASSERT_TRUE(AppendStockCard(shop(), Card("A", std::to_string(i))));
  // One list per thread: the two takers' and this thread's.
  std::vector<std::string> got[3];
  auto taker = [&](int k) {
    while (auto card = TakeStockCard(shop(), "A")) got[k].push_back(card->cardNumber);
  };
  std::thread a(taker, 0), b(taker, 1);
  // Meanwhile this thread checks, holding the lock across two operations,
  // that a load and a take agree.
  for (int i = 0; i < 20; ++i) {
    StoreGuard hold(shop());
    auto cards = LoadStockCardsOf(shop(), "A");
    auto card = TakeStockCard(shop(), "A");
    if (cards.empty()) {
      EXPECT_FALSE(card);
      break;
    }
    ASSERT_TRUE(card);
    EXPECT_EQ(card->cardNumber, cards[0].cardNumber);
    got[2].push_back(card->cardNumber);
  }
  a.join();
  b.join();
  std::multiset<std::string> all;
  for (const std::vector<std::string>& list : got) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kCards));
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), static_cast<std::size_t>(kCards));
  EXPECT_TRUE(LoadStockCardsOf(shop(), "A").empty());
}

}  // namespace
}  // namespace autodeliver
