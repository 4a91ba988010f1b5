// The delivery's lookups answered from the in-memory index: writes made by
// another process between two uses are seen, a take leaves its card marked
// until a compaction, and a compaction keeps the table order.
#include "store/store_index.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"
#include "table_files.h"
#include "tables/record_table.h"

namespace autodeliver {
namespace {

// Runs `work` in a child process (another program on the same files) and
// returns its exit status: 0 when `work` returned true.
int InChild(const std::function<bool()>& work) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(work() ? 0 : 1);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A write to a table straight through RecordTable, as another tool does.
bool AppendRow(const std::string& path, const FieldValues& values) {
  RecordTable t;
  return t.Open(path) && t.Append(values);
}

bool ModifyRow(const std::string& path, int record, const FieldValues& values) {
  RecordTable t;
  return t.Open(path) && t.GoTo(record) && t.Modify(values);
}

bool MarkRow(const std::string& path, int record) {
  RecordTable t;
  return t.Open(path) && t.GoTo(record) && t.MarkDeleted();
}

// The card numbers of the stock file in file order, marked records as "-".
std::vector<std::string> StockFile(ShopContext& shop) {
  RecordTable t;
  std::vector<std::string> out;
  if (!t.Open(shop.StockTablePath())) return out;
  const std::int32_t n = t.RecordCount();
  for (std::int32_t i = 1; i <= n; ++i) {
    t.GoTo(i);
    out.push_back(t.IsMarked() ? "-" : t.ReadTextAt(1).value_or("?"));
  }
  return out;
}

std::vector<std::string> Numbers(const std::vector<StockCard>& cards) {
  std::vector<std::string> out;
  for (const auto& c : cards) out.push_back(c.cardNumber);
  return out;
}

using StoreIndex = testing::ShopTest;

TEST_F(StoreIndex, WritesOfAnotherProcessAreSeenBetweenTwoUses) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "a1", "p1", 0}));
  SentCard sent;
  sent.itemName = "A";
  sent.orderNumber = "100";
  ASSERT_TRUE(AppendSentCard(shop(), sent));

  // First cycle: the index is built.
  EXPECT_TRUE(ItemExists(shop(), "A"));
  EXPECT_FALSE(ItemExists(shop(), "B"));
  EXPECT_FALSE(SentCardExists(shop(), "200"));
  ASSERT_TRUE(TakeStockCard(shop(), "A"));
  EXPECT_FALSE(TakeStockCard(shop(), "A"));

  // Another program adds a card, sends order 200, adds item B and renames
  // item A in place (the count stays).
  ASSERT_EQ(InChild([this] { return AppendRow(shop().StockTablePath(), {"A", "a2", "p2"}); }), 0);
  ASSERT_EQ(InChild([this] {
              return AppendRow(shop().SentTablePath(), {"A", "200", "buyer", "1", "x", "y", "", "t"});
            }),
            0);
  ASSERT_EQ(InChild([this] { return AppendRow(shop().ItemsTablePath(), {"B", "", "0", "真"}); }), 0);
  ASSERT_EQ(InChild([this] { return ModifyRow(shop().ItemsTablePath(), 1, {"C"}); }), 0);

  // Second cycle.
  auto card = TakeStockCard(shop(), "A");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->cardNumber, "a2");
  EXPECT_TRUE(SentCardExists(shop(), "200"));  // a second delivery is stopped
  EXPECT_TRUE(SentCardExists(shop(), "100"));
  EXPECT_TRUE(ItemExists(shop(), "B"));
  EXPECT_TRUE(ItemExists(shop(), "C"));
  EXPECT_FALSE(ItemExists(shop(), "A"));
}

TEST_F(StoreIndex, ACardMarkedOrRenamedElsewhereIsNeverServed) {
  for (const char* n : {"1", "2", "3", "4"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  ASSERT_EQ(Numbers(LoadStockCardsOf(shop(), "A")), (std::vector<std::string>{"1", "2", "3", "4"}));
  // Another program marks card 1 and renames card 2, both in place.
  ASSERT_EQ(InChild([this] {
              return MarkRow(shop().StockTablePath(), 1) && ModifyRow(shop().StockTablePath(), 2, {"B"});
            }),
            0);

  EXPECT_EQ(Numbers(LoadFirstStockCardsOf(shop(), "A", 1)), (std::vector<std::string>{"3"}));
  auto card = TakeStockCard(shop(), "A");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->cardNumber, "3");
  std::size_t total = 0;
  auto left = LoadFirstStockCardsOf(shop(), "A", 10, &total);
  EXPECT_EQ(Numbers(left), (std::vector<std::string>{"4"}));
  EXPECT_EQ(total, 1u);
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "B")), (std::vector<std::string>{"2"}));
}

TEST_F(StoreIndex, ATakeCutShortByAKillLeavesItsCardMarked) {
  for (const char* n : {"1", "2", "3", "4", "5", "6", "7", "8"})
    ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  // The child takes a card and is killed before anything else happens.
  EXPECT_EQ(InChild([this] {
              if (!TakeStockCard(shop(), "A")) return false;
              ::raise(SIGKILL);
              return true;
            }),
            128 + SIGKILL);

  RecordTable t;
  ASSERT_TRUE(t.Open(shop().StockTablePath()));
  EXPECT_EQ(t.RecordCount(), 8);  // nothing moved
  t.GoTo(1);
  EXPECT_TRUE(t.IsMarked());
  t.Close();
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "A")),
            (std::vector<std::string>{"2", "3", "4", "5", "6", "7", "8"}));
  auto card = TakeStockCard(shop(), "A");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->cardNumber, "2");
}

TEST_F(StoreIndex, CompactionKeepsTableOrderAndPurgesEveryMark) {
  // Two items in turn: A1 B1 A2 B2 ...
  for (int i = 1; i <= 8; ++i) {
    ASSERT_TRUE(AppendStockCard(shop(), {"A", "a" + std::to_string(i), "p", 0}));
    ASSERT_TRUE(AppendStockCard(shop(), {"B", "b" + std::to_string(i), "p", 0}));
  }
  // Three takes leave three marks in 16 records: below a quarter.
  for (const char* want : {"a1", "a2", "a3"}) {
    auto card = TakeStockCard(shop(), "A");
    ASSERT_TRUE(card);
    EXPECT_EQ(card->cardNumber, want);
  }
  EXPECT_EQ(StockFile(shop()), (std::vector<std::string>{"-", "b1", "-", "b2", "-", "b3", "a4", "b4", "a5",
                                                         "b5", "a6", "b6", "a7", "b7", "a8", "b8"}));
  // The page marks b8 (record 16, numbers unchanged by the takes); the
  // fourth take reaches a quarter and compacts, removing that mark too.
  auto shown = LoadStockCardsOf(shop(), "B");
  ASSERT_EQ(shown.back().cardNumber, "b8");
  ASSERT_EQ(shown.back().recordNumber, 16);
  ASSERT_TRUE(MarkStockCardAt(shop(), 16));
  auto card = TakeStockCard(shop(), "A");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->cardNumber, "a4");
  EXPECT_EQ(StockFile(shop()),
            (std::vector<std::string>{"b1", "b2", "b3", "b4", "a5", "b5", "a6", "b6", "a7", "b7", "a8"}));

  // After the compaction the index follows the moved records.
  auto a = LoadStockCardsOf(shop(), "A");
  EXPECT_EQ(Numbers(a), (std::vector<std::string>{"a5", "a6", "a7", "a8"}));
  EXPECT_EQ(a.front().recordNumber, 5);
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "B")),
            (std::vector<std::string>{"b1", "b2", "b3", "b4", "b5", "b6", "b7"}));

  // The idle hook waits for an eighth; the close compacts whatever is left.
  bool compacted = true;
  ASSERT_TRUE(TakeStockCard(shop(), "B"));
  EXPECT_TRUE(CompactStockIfWorthIt(shop(), &compacted));
  EXPECT_FALSE(compacted);  // 1 of 11
  ASSERT_TRUE(TakeStockCard(shop(), "B"));
  EXPECT_TRUE(CompactStockIfWorthIt(shop(), &compacted));
  EXPECT_TRUE(compacted);  // 2 of 11
  EXPECT_EQ(StockFile(shop()).size(), 9u);
  ASSERT_TRUE(TakeStockCard(shop(), "A"));
  EXPECT_TRUE(CompactStock(shop(), &compacted));
  EXPECT_TRUE(compacted);
  EXPECT_TRUE(CompactStock(shop(), &compacted));
  EXPECT_FALSE(compacted);
  EXPECT_EQ(StockFile(shop()), (std::vector<std::string>{"b3", "b4", "b5", "a6", "b6", "a7", "b7", "a8"}));
  EXPECT_EQ(Numbers(LoadStockCardsOf(shop(), "A")), (std::vector<std::string>{"a6", "a7", "a8"}));
  auto next = TakeStockCard(shop(), "B");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->cardNumber, "b3");
}

}  // namespace
}  // namespace autodeliver
