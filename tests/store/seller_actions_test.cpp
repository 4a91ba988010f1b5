// The seller's operations on real table files: items added, renamed with
// their cards, deleted with their cards, attribute edits, the exact removal
// of selected stock cards, and the card import with its progress and cancel.
#include "store/seller_actions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <thread>

#include "store/item_table.h"
#include "store/settings.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/store_lock.h"
#include "store/table_access.h"
#include "store/table_schema.h"
#include "store/warning_levels.h"
#include "support/fault_io.h"
#include "support/shop_folder.h"
#include "table_files.h"
#include "tables/record_table.h"
#include "tables/table_format.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

class ShopOps : public testing::ShopTest {
 protected:
  // Items named `names`, each with two cards "<name>-1" and "<name>-2".
  void ItemsWithCards(const std::vector<std::string>& names) { ItemsWithCards(shop(), names); }
  void ItemsWithCards(ShopContext& into, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      ASSERT_TRUE(AppendItem(into, {name, "", 0, true}));
      for (const char* n : {"-1", "-2"}) ASSERT_TRUE(AppendStockCard(into, {name, name + n, "pw", 0}));
    }
  }

  std::vector<std::string> Numbers(std::string_view item) {
    std::vector<std::string> out;
    for (const StockCard& c : LoadStockCardsOf(shop(), item)) out.push_back(c.cardNumber);
    return out;
  }

  // The failure names the stock table or its companion file, where the
  // write failed.
  bool NamesStockFile(const Status& s) {
    const std::string table = shop().StockTablePath();
    return s.path() == table || s.path() == CompanionFilePath(table);
  }
  static std::vector<ImportedCard> Cards(int n, const std::string& prefix = "N") {
    std::vector<ImportedCard> cards;
    for (int i = 0; i < n; ++i) cards.push_back({prefix + std::to_string(i), "P" + std::to_string(i)});
    return cards;
  }
};

TEST_F(ShopOps, AddingAnItemRefusesAnExactDuplicateOnly) {
  EXPECT_EQ(AddMonitoredItem(shop(), "点卡 A"_gbk), AddItemResult::kAdded);
  const std::optional<MonitoredItem> stored = ReadItemAt(shop(), 1);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->name, "点卡 A"_gbk);
  EXPECT_EQ(stored->remark, "");
  EXPECT_EQ(stored->purchaseLimit, 0);
  EXPECT_TRUE(stored->needsCard);

  EXPECT_EQ(AddMonitoredItem(shop(), "点卡 A"_gbk), AddItemResult::kAlreadyMonitored);
  EXPECT_EQ(AddMonitoredItem(shop(), "点卡 A "_gbk), AddItemResult::kAdded);
  EXPECT_EQ(AddMonitoredItem(shop(), "点卡 a"_gbk), AddItemResult::kAdded);
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"点卡 A"_gbk, "点卡 A "_gbk, "点卡 a"_gbk}));

  ASSERT_EQ(std::remove(shop().ItemsTablePath().c_str()), 0);
  EXPECT_EQ(AddMonitoredItem(shop(), "B"), AddItemResult::kNotWritten);
}

TEST_F(ShopOps, RenamingAnItemMovesItsCardsAlong) {
  ItemsWithCards({"A", "B", "C"});
  EXPECT_TRUE(RenameItem(shop(), 3, "C", "C2"));
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"A", "B", "C2"}));
  EXPECT_EQ(Numbers("C2"), (std::vector<std::string>{"C-1", "C-2"}));
  EXPECT_TRUE(Numbers("C").empty());
  EXPECT_EQ(Numbers("B"), (std::vector<std::string>{"B-1", "B-2"}));

  // The new name may be empty or another item's; the cards follow anyway.
  EXPECT_TRUE(RenameItem(shop(), 1, "A", "B"));
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"B", "B", "C2"}));
  EXPECT_EQ(Numbers("B"), (std::vector<std::string>{"A-1", "A-2", "B-1", "B-2"}));

  // An item that cannot be written leaves the cards where they are.
  ASSERT_EQ(std::remove(shop().ItemsTablePath().c_str()), 0);
  EXPECT_FALSE(RenameItem(shop(), 3, "C2", "X"));
  EXPECT_EQ(Numbers("C2"), (std::vector<std::string>{"C-1", "C-2"}));
  EXPECT_TRUE(Numbers("X").empty());
}

// Each write of the items table gives the cause of its failure, naming the
// table's files, and a rename that fails leaves the cards as they were.
TEST_F(ShopOps, AFailedItemWriteTellsItsCause) {
  ItemsWithCards({"A", "B"});
  const std::string table = shop().ItemsTablePath();
  const std::vector<std::pair<const char*, std::function<Status()>>> writes = {
      {"append",
       [this] {
         return AppendItem(shop(), {"N", "", 0, true});
       }},
      {"write",
       [this] {
         return WriteItemAt(shop(), 1, {"A", "r", 0, true});
       }},
      {"remark", [this] { return SetItemRemark(shop(), 1, "r"); }},
      {"limit", [this] { return SetItemPurchaseLimit(shop(), 1, 2); }},
      {"needs card", [this] { return SetItemNeedsCard(shop(), 1, false); }},
      {"rename", [this] { return RenameItem(shop(), 2, "B", "B2"); }},
      {"delete", [this] { return DeleteItemAt(shop(), 1); }},
  };
  for (const auto& [what, write] : writes) {
    SCOPED_TRACE(what);
    testing::FaultIo io;
    io.failWrite = 1;
    io.failWriteErrno = ENOSPC;
    io.failWriteLands = 0;
    shop().SetStoreFileIo(&io);
    const Status s = write();
    shop().SetStoreFileIo(nullptr);
    EXPECT_TRUE(s.IsDiskFull()) << s.ToString();
    EXPECT_TRUE(s.path() == table || s.path() == CompanionFilePath(table)) << s.ToString();
  }
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(Numbers("B"), (std::vector<std::string>{"B-1", "B-2"}));
  // An items table that is gone.
  ASSERT_EQ(std::remove(table.c_str()), 0);
  EXPECT_TRUE(AppendItem(shop(), {"N", "", 0, true}).IsNotFound());
}

// The removals from the stock, the item deletion and the settings writes
// give the cause of a failed write, naming the table it concerns (or its
// companion file), and a failure loses nothing: the items, the live cards,
// the warning levels and the settings read as before, except what the
// operation was asked to remove (a removal may stop part way).
TEST_F(ShopOps, FailedRemovalsAndSettingWritesTellTheirCause) {
  // Everything the seller can see, one entry each.
  auto snapshot = [](ShopContext& shop) {
    std::vector<std::string> all = LoadItemNames(shop);
    std::vector<StockCard> cards;
    EXPECT_TRUE(LoadAllStockCards(shop, &cards));
    for (const StockCard& c : cards) all.push_back(c.itemName + ":" + c.cardNumber);
    for (const std::string& v : GetSettingValues(shop, "库存预警线"_gbk)) all.push_back(v);
    all.push_back(GetSetting(shop, ImClientPathSetting()));
    all.push_back(GetSetting(shop, "通知:库存预警"_gbk));
    return all;
  };
  using Op = std::function<Status(ShopContext&)>;
  struct Case {
    const char* what;
    const std::string& (ShopContext::*table)() const;  // the table concerned
    std::function<void(ShopContext&)> before;          // brings the shop where the write has work to do
    Op write;
    std::string target;  // entries starting with it may go
  };
  auto none = [](ShopContext&) {};
  auto takeOne = [](ShopContext& shop) { ASSERT_TRUE(TakeStockCard(shop, "A")); };
  const std::vector<Case> cases = {
      {"mark the cards of an item", &ShopContext::StockTablePath, none,
       [](ShopContext& shop) { return MarkStockCardsOf(shop, "A"); }, "A:"},
      {"mark one card", &ShopContext::StockTablePath, none,
       [](ShopContext& shop) { return MarkStockCardAt(shop, 2); }, "A:A-2"},
      {"purge", &ShopContext::StockTablePath,
       [](ShopContext& shop) { ASSERT_TRUE(MarkStockCardAt(shop, 1)); },
       [](ShopContext& shop) { return PurgeStock(shop); }, "-"},
      {"compact at idle", &ShopContext::StockTablePath, takeOne,
       [](ShopContext& shop) {
         bool compacted = true;
         Status s = CompactStockIfWorthIt(shop, &compacted);
         EXPECT_FALSE(compacted);
         return s;
       },
       "-"},
      {"compact at close", &ShopContext::StockTablePath, takeOne,
       [](ShopContext& shop) { return CompactStock(shop); }, "-"},
      {"remove selected cards", &ShopContext::StockTablePath, none,
       [](ShopContext& shop) {
         Status failure;
         const std::size_t removed =
             RemoveStockCards(shop, "B", LoadStockCardsOf(shop, "B"), {0, 1}, &failure);
         // The count is what left the stock.
         EXPECT_EQ(removed, 2 - LoadStockCardsOf(shop, "B").size());
         return failure;
       },
       "B:"},
      {"delete items", &ShopContext::ItemsTablePath, none,
       [](ShopContext& shop) {
         Status failure;
         EXPECT_EQ(DeleteItems(shop, {{2, "B"}}, &failure), 0u);
         return failure;
       },
       "-"},
      {"set a setting", &ShopContext::SettingsTablePath, none,
       [](ShopContext& shop) { return SetSetting(shop, ImClientPathSetting(), "/x"); }, "-"},
      {"put a setting", &ShopContext::SettingsTablePath, none,
       [](ShopContext& shop) { return PutSetting(shop, "通知:库存预警"_gbk, "0"); }, "-"},
      {"replace setting values", &ShopContext::SettingsTablePath, none,
       [](ShopContext& shop) {
         return ReplaceSettingValues(shop, "库存预警线"_gbk, {"1 A", "2 B"});
       },
       "-"},
      {"set a warning level", &ShopContext::SettingsTablePath, none,
       [](ShopContext& shop) { return SetWarningLevel(shop, "B", 3); }, "-"},
      {"rename a warning level", &ShopContext::SettingsTablePath, none,
       [](ShopContext& shop) { return RenameWarningLevel(shop, "A", "A2"); }, "-"},
      {"forget a warning level", &ShopContext::SettingsTablePath, none,
       [](ShopContext& shop) { return ForgetWarningLevel(shop, "A"); }, "-"},
  };
  for (const Case& c : cases) {
    for (int error : {ENOSPC, EACCES}) {
      SCOPED_TRACE(std::string(c.what) + ", errno " + std::to_string(error));
      testing::ShopFolder folder;
      ASSERT_TRUE(folder.ok()) << folder.error();
      ShopContext& shop = folder.context();
      ItemsWithCards(shop, {"A", "B", "C", "D"});
      // Several levels: an edit that went on past a failed write would move
      // one into the place of another.
      for (const auto& [item, level] : {std::pair{"A", 7}, {"B", 5}, {"C", 3}})
        ASSERT_TRUE(SetWarningLevel(shop, item, level));
      ASSERT_TRUE(PutSetting(shop, "通知:库存预警"_gbk, "1"));
      c.before(shop);
      auto kept = [&](std::vector<std::string> all) {
        std::erase_if(all, [&](const std::string& e) { return e.starts_with(c.target); });
        return all;
      };
      const std::vector<std::string> was = kept(snapshot(shop));
      testing::FaultIo io;
      io.failWrite = 1;
      io.failWriteErrno = error;
      io.failWriteLands = 0;
      shop.SetStoreFileIo(&io);
      const Status s = c.write(shop);
      shop.SetStoreFileIo(nullptr);
      EXPECT_TRUE(io.failed);
      EXPECT_TRUE(error == ENOSPC ? s.IsDiskFull() : s.IsPermissionDenied()) << s.ToString();
      const std::string& table = (shop.*c.table)();
      EXPECT_TRUE(s.path() == table || s.path() == CompanionFilePath(table)) << s.ToString();
      EXPECT_EQ(kept(snapshot(shop)), was);
    }
  }
  // A table that cannot be opened (no permission, no descriptor left) is
  // named with the cause.
  ShopContext& shop = this->shop();
  for (int error : {EACCES, EMFILE}) {
    testing::FaultIo io;
    io.failOpenPath = ".edb";
    io.failOpenErrno = error;
    shop.SetStoreFileIo(&io);
    const Status marked = MarkStockCardsOf(shop, "A"), put = PutSetting(shop, "n", "v");
    shop.SetStoreFileIo(nullptr);
    EXPECT_EQ(marked.error(), error) << marked.ToString();
    EXPECT_EQ(marked.path(), shop.StockTablePath());
    EXPECT_EQ(put.error(), error) << put.ToString();
    EXPECT_EQ(put.path(), shop.SettingsTablePath());
  }
  // A table that is gone is named as missing.
  const std::string stock = shop.StockTablePath(), settings = shop.SettingsTablePath();
  ASSERT_EQ(std::remove(stock.c_str()), 0);
  ASSERT_EQ(std::remove(settings.c_str()), 0);
  for (const Status& s : {MarkStockCardsOf(shop, "A"), PurgeStock(shop), CompactStock(shop),
                          PutSetting(shop, "n", "v"), SetWarningLevel(shop, "A", 1)}) {
    EXPECT_TRUE(s.IsNotFound()) << s.ToString();
    EXPECT_TRUE(s.path() == stock || s.path() == settings) << s.ToString();
  }
}

TEST_F(ShopOps, DeletingItemsRemovesExactlyThemWithTheirCards) {
  ItemsWithCards({"I1", "I2", "I3", "I4", "I5"});
  // Given in list order; the records behind stay right while the earlier
  // ones are removed.
  EXPECT_EQ(DeleteItems(shop(), {{1, "I1"}, {3, "I3"}, {5, "I5"}}), 3u);
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"I2", "I4"}));
  for (const char* gone : {"I1", "I3", "I5"}) EXPECT_TRUE(Numbers(gone).empty()) << gone;
  EXPECT_EQ(Numbers("I2"), (std::vector<std::string>{"I2-1", "I2-2"}));
  EXPECT_EQ(Numbers("I4"), (std::vector<std::string>{"I4-1", "I4-2"}));
  // No mark is left behind in the stock: a raw scan sees only live cards.
  RecordTable t;
  ASSERT_TRUE(t.Open(shop().StockTablePath()));
  EXPECT_EQ(t.RecordCount(), 4);

  EXPECT_EQ(DeleteItems(shop(), {}), 0u);
  EXPECT_EQ(LoadItemNames(shop()).size(), 2u);
}

// An item's warning level is the seller's setting for that item: it follows
// a rename and goes with the item.
TEST_F(ShopOps, WarningLevelsFollowRenamesAndGoWithTheItem) {
  ItemsWithCards({"A", "B", "C"});
  ASSERT_TRUE(SetWarningLevel(shop(), "A", 9));
  ASSERT_TRUE(SetWarningLevel(shop(), "C", 0));
  EXPECT_TRUE(RenameItem(shop(), 1, "A", "A2"));
  WarningLevels levels = LoadWarningLevels(shop());
  EXPECT_EQ(levels.Of("A2"), 9);
  EXPECT_EQ(levels.Of("A"), kDefaultWarningLevel);

  EXPECT_EQ(DeleteItems(shop(), {{3, "C"}}), 1u);
  levels = LoadWarningLevels(shop());
  EXPECT_FALSE(levels.Own().contains("C"));
  EXPECT_EQ(levels.Own().size(), 1u);
  // A new item of the old name starts from the default.
  EXPECT_EQ(AddMonitoredItem(shop(), "C"), AddItemResult::kAdded);
  EXPECT_EQ(LoadWarningLevels(shop()).Of("C"), kDefaultWarningLevel);
}

TEST_F(ShopOps, AttributeEditsChangeOnlyTheirItemAndField) {
  ItemsWithCards({"A", "B", "C"});
  ASSERT_TRUE(WriteItemAt(shop(), 2, {"B", "old", 7, false}));
  EXPECT_TRUE(SetItemRemark(shop(), 2, "新备注"_gbk));
  EXPECT_TRUE(SetItemPurchaseLimit(shop(), 2, 12));
  EXPECT_TRUE(SetItemNeedsCard(shop(), 3, false));

  const MonitoredItem b = *ReadItemAt(shop(), 2);
  EXPECT_EQ(b.name, "B");
  EXPECT_EQ(b.remark, "新备注"_gbk);
  EXPECT_EQ(b.purchaseLimit, 12);
  EXPECT_FALSE(b.needsCard);
  const MonitoredItem c = *ReadItemAt(shop(), 3);
  EXPECT_EQ(c.remark, "");
  EXPECT_EQ(c.purchaseLimit, 0);
  EXPECT_FALSE(c.needsCard);
  EXPECT_TRUE(ReadItemAt(shop(), 1)->needsCard);

  ASSERT_EQ(std::remove(shop().ItemsTablePath().c_str()), 0);
  EXPECT_FALSE(SetItemRemark(shop(), 1, "x"));
  EXPECT_FALSE(SetItemPurchaseLimit(shop(), 1, 1));
  EXPECT_FALSE(SetItemNeedsCard(shop(), 1, true));
}

TEST_F(ShopOps, RemovingSelectedCardsHitsExactlyThem) {
  // Cards of B between those of A, so rows and records differ.
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "a1", "p", 0}));
  ASSERT_TRUE(AppendStockCard(shop(), {"B", "b1", "p", 0}));
  for (const char* n : {"a2", "a3", "a4"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  const std::vector<StockCard> shown = LoadStockCardsOf(shop(), "A");
  EXPECT_EQ(RemoveStockCards(shop(), "A", shown, {0, 2}), 2u);
  EXPECT_EQ(Numbers("A"), (std::vector<std::string>{"a2", "a4"}));
  EXPECT_EQ(Numbers("B"), (std::vector<std::string>{"b1"}));
  EXPECT_EQ(RemoveStockCards(shop(), "A", LoadStockCardsOf(shop(), "A"), {}), 0u);
  EXPECT_EQ(Numbers("A").size(), 2u);
}

TEST_F(ShopOps, RemovalSurvivesADeliveryBetweenListAndClick) {
  for (const char* n : {"c1", "c2", "c3", "c4", "c5"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  const std::vector<StockCard> shown = LoadStockCardsOf(shop(), "A");
  // The delivery thread takes the two oldest cards after the list was
  // filled; records 3 and 4 now hold c5 and nothing.
  std::thread([this] {
    ASSERT_TRUE(TakeStockCard(shop(), "A"));
    ASSERT_TRUE(TakeStockCard(shop(), "A"));
  }).join();
  // The seller selected c1 (delivered meanwhile) and c4.
  EXPECT_EQ(RemoveStockCards(shop(), "A", shown, {0, 3}), 1u);
  EXPECT_EQ(Numbers("A"), (std::vector<std::string>{"c3", "c5"}));
}

TEST_F(ShopOps, ImportAppendsInOrderAndReportsProgress) {
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "old", "p", 0}));
  const std::vector<ImportedCard> cards = Cards(2500);
  std::vector<std::size_t> reported;
  bool lockHeldDuringImport = true;
  const StockImport result =
      ImportStockCards(shop(), "A", cards, [&](std::size_t handled, std::size_t total) {
        EXPECT_EQ(total, 2500u);
        reported.push_back(handled);
        // The whole import is one hold of the store lock: no other thread gets
        // in between two of its cards.
        std::thread([&] {
          if (shop().StoreLock().try_lock()) {
            lockHeldDuringImport = false;
            shop().StoreLock().unlock();
          }
        }).join();
      });
  EXPECT_EQ(result.handled, 2500u);
  EXPECT_EQ(result.written, 2500u);
  EXPECT_TRUE(result.refused.empty());
  EXPECT_FALSE(result.cancelled);
  EXPECT_EQ(reported, (std::vector<std::size_t>{1000, 2000, 2500}));
  EXPECT_TRUE(lockHeldDuringImport);

  const std::vector<StockCard> stock = LoadStockCardsOf(shop(), "A");
  ASSERT_EQ(stock.size(), 2501u);
  EXPECT_EQ(stock[0].cardNumber, "old");
  for (std::size_t i = 0; i < cards.size(); ++i) {
    ASSERT_EQ(stock[i + 1].cardNumber, cards[i].cardNumber) << i;
    ASSERT_EQ(stock[i + 1].cardPassword, cards[i].cardPassword) << i;
  }
}

TEST_F(ShopOps, CancelledImportKeepsWhatWasWrittenAndSaysHowFar) {
  const std::vector<ImportedCard> cards = Cards(2500);
  std::atomic<bool> cancel{false};
  // The seller cancels once the first thousand are in.
  const StockImport result = ImportStockCards(
      shop(), "A", cards, [&](std::size_t handled, std::size_t) { cancel = handled >= 1000; }, &cancel);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.handled, 1000u);
  EXPECT_EQ(result.written, 1000u);
  const std::vector<std::string> stock = Numbers("A");
  ASSERT_EQ(stock.size(), 1000u);
  EXPECT_EQ(stock.front(), "N0");
  EXPECT_EQ(stock.back(), "N999");

  // Cancelled before it began: nothing is written.
  const StockImport none = ImportStockCards(shop(), "B", cards, {}, &cancel);
  EXPECT_TRUE(none.cancelled);
  EXPECT_EQ(none.handled, 0u);
  EXPECT_EQ(none.written, 0u);
  EXPECT_TRUE(Numbers("B").empty());
}

TEST_F(ShopOps, ImportSkipsRefusedCardsAndGoesOn) {
  // A stock table whose card numbers are fixed-width texts of 4 bytes: a
  // longer number is refused by the table.
  ASSERT_EQ(std::remove(shop().StockTablePath().c_str()), 0);
  ASSERT_EQ(std::remove(CompanionFilePath(shop().StockTablePath()).c_str()), 0);
  std::vector<FieldSpec> fields = StockTableFields();
  fields[1] = {fields[1].name, table_format::kFixedText, 4};
  ASSERT_TRUE(CreateTable(shop().StockTablePath(), fields));

  const StockImport result = ImportStockCards(
      shop(), "A", {{"n1", "p1"}, {"toolong", "p2"}, {"n3", "p3"}, {"n4 long", "p4"}, {"n5", "p5"}});
  EXPECT_EQ(result.handled, 5u);
  EXPECT_EQ(result.written, 3u);
  EXPECT_EQ(result.refused, (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(Numbers("A"), (std::vector<std::string>{"n1", "n3", "n5"}));
}

// A write of the stock that fails during an import (each write in turn,
// torn half way) ends it where the file ends: every card counted or
// reported as handled is in the stock, in order, and none after them.
TEST_F(ShopOps, AFailedWriteEndsTheImportWhereTheFileEnds) {
  const std::vector<ImportedCard> cards = Cards(2500);
  int injected = 0;
  for (int k = 1; k < 100; ++k) {
    SCOPED_TRACE("torn write " + std::to_string(k));
    ASSERT_EQ(std::remove(shop().StockTablePath().c_str()), 0);
    ASSERT_EQ(std::remove(CompanionFilePath(shop().StockTablePath()).c_str()), 0);
    ASSERT_TRUE(CreateTable(shop().StockTablePath(), StockTableFields()));
    testing::FaultIo io;
    io.failWrite = k;
    shop().SetStoreFileIo(&io);
    std::size_t reported = 0;
    const StockImport result =
        ImportStockCards(shop(), "A", cards, [&](std::size_t handled, std::size_t) { reported = handled; });
    shop().SetStoreFileIo(nullptr);
    if (!io.failed) {
      EXPECT_EQ(result.written, cards.size());
      break;
    }
    ++injected;
    EXPECT_TRUE(result.failure.IsIoError()) << result.failure.ToString();
    EXPECT_EQ(result.failure.error(), EIO);
    EXPECT_TRUE(NamesStockFile(result.failure)) << result.failure.ToString();
    const std::vector<std::string> stock = Numbers("A");
    EXPECT_EQ(result.handled, stock.size());
    EXPECT_EQ(result.written, stock.size());
    EXPECT_TRUE(result.refused.empty());
    EXPECT_LE(reported, stock.size());
    EXPECT_LT(stock.size(), cards.size());
    for (std::size_t i = 0; i < stock.size(); ++i) ASSERT_EQ(stock[i], cards[i].cardNumber) << i;
  }
  EXPECT_GT(injected, 8);  // three batches, each written in several steps
}

TEST_F(ShopOps, ImportIntoAMissingStockTableWritesNothing) {
  ASSERT_EQ(std::remove(shop().StockTablePath().c_str()), 0);
  int progressCalls = 0;
  const StockImport result =
      ImportStockCards(shop(), "A", Cards(3), [&](std::size_t, std::size_t) { ++progressCalls; });
  EXPECT_EQ(result.handled, 0u);
  EXPECT_EQ(result.written, 0u);
  EXPECT_FALSE(result.cancelled);
  EXPECT_EQ(progressCalls, 0);
  EXPECT_TRUE(result.failure.IsNotFound()) << result.failure.ToString();
  EXPECT_EQ(result.failure.path(), shop().StockTablePath());
}

// A write of the stock that fails gives the caller its cause, naming the
// stock table's files, from a single append and from an import alike; a full disk
// and a refused permission are told apart from other failures.
TEST_F(ShopOps, AFailedStockWriteTellsItsCause) {
  struct Case {
    int error;
    Status::Code code;
    bool permission;
  };
  for (const Case& c :
       {Case{ENOSPC, Status::Code::kDiskFull, false}, Case{EACCES, Status::Code::kIoError, true},
        Case{EIO, Status::Code::kIoError, false}}) {
    SCOPED_TRACE("errno " + std::to_string(c.error));
    testing::FaultIo io;
    io.failWrite = 1;
    io.failWriteErrno = c.error;
    shop().SetStoreFileIo(&io);
    const Status one = AppendStockCard(shop(), {"A", "single", "p", 0});
    io.failWrite = io.writes + 1;
    const StockImport many = ImportStockCards(shop(), "A", Cards(3));
    shop().SetStoreFileIo(nullptr);
    for (const Status* s : {&one, &many.failure}) {
      EXPECT_EQ(s->code(), c.code) << s->ToString();
      EXPECT_EQ(s->IsPermissionDenied(), c.permission) << s->ToString();
      EXPECT_TRUE(NamesStockFile(*s)) << s->ToString();
    }
    EXPECT_EQ(many.written, 0u);
  }
  // A run that goes through leaves the cause ok.
  const StockImport fine = ImportStockCards(shop(), "A", Cards(3));
  EXPECT_TRUE(fine.failure.ok()) << fine.failure.ToString();
  EXPECT_EQ(fine.written, 3u);
}

}  // namespace
}  // namespace autodeliver
