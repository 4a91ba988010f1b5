// The tables a delivery session holds open: the window's thread works on
// them between two holds and waits for a hold to end, a table replaced
// under its name is opened again, another process's write between two
// holds is seen through the folder's change stamp, a writer killed half-way
// makes the next hold look again, and the tables a hold only reads are
// left unlocked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "store/delivery_step.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/store_lock.h"
#include "support/fault_io.h"
#include "support/shop_folder.h"
#include "tables/record_table.h"

namespace autodeliver {
namespace {

using DeliveryTablesTest = testing::ShopTest;

std::vector<std::string> Numbers(const std::vector<StockCard>& cards) {
  std::vector<std::string> out;
  for (const StockCard& c : cards) out.push_back(c.cardNumber);
  return out;
}

// Runs `work` in a child process (another program on the same folder) and
// returns its exit status: 0 when `work` returned true.
int InChild(const std::function<bool()>& work) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(work() ? 0 : 1);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The order numbers of the live sent rows, in file order.
std::vector<std::string> SentOrders(ShopContext& shop) {
  std::vector<SentCard> cards;
  std::vector<std::string> out;
  if (!LoadSentCards(shop, &cards)) return out;
  for (const SentCard& c : cards) out.push_back(c.orderNumber);
  return out;
}

DeliveryPlan PlanFor(const std::string& order, const StockCard& card) {
  DeliveryPlan plan;
  plan.orderNumber = order;
  plan.itemName = card.itemName;
  plan.buyerNick = "buyer";
  plan.quantity = 1;
  plan.sentAt = "t";
  plan.cards.push_back({card.recordNumber, card.cardNumber, card.cardPassword, card.cardNumber});
  return plan;
}

// The window's thread asks for the stock while the delivery holds the
// tables: it waits for the hold to end and then finds the card taken and
// its row written, never one without the other.
TEST_F(DeliveryTablesTest, AStoreOperationOfAnotherThreadWaitsForTheHoldAndSeesItWhole) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"1", "2"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  DeliveryTables tables(shop());
  std::atomic<bool> holdEnded{false};
  bool endedBeforeTheLoad = false;
  std::vector<std::string> seen;
  bool sentSeen = false;
  std::thread window;
  {
    DeliveryTables::Hold hold(tables, true);
    const std::vector<StockCard> cards = tables.LoadFirstStockCardsOf("A", 1, nullptr);
    ASSERT_EQ(Numbers(cards), std::vector<std::string>{"1"});
    window = std::thread([&] {
      seen = Numbers(LoadStockCardsOf(shop(), "A"));
      endedBeforeTheLoad = holdEnded.load();
      sentSeen = SentCardExists(shop(), "100");
    });
    EXPECT_EQ(tables.RecordPlannedCards(PlanFor("100", cards[0])), RecordOutcome::kRecorded);
    holdEnded = true;
  }
  window.join();
  EXPECT_TRUE(endedBeforeTheLoad);
  EXPECT_EQ(seen, std::vector<std::string>{"2"});
  EXPECT_TRUE(sentSeen);

  // Between two holds the window writes the same files; the next hold sees it.
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "3", "p", 0}));
  const std::optional<StockCard> taken = TakeStockCard(shop(), "A");
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->cardNumber, "2");
  DeliveryTables::Hold hold(tables, true);
  std::size_t total = 0;
  EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 5, &total)), std::vector<std::string>{"3"});
  EXPECT_EQ(total, 1u);
  EXPECT_TRUE(tables.SentCardExists("100"));
}

// The stock file replaced by a copy with another card (a restore from a
// backup, say) between two holds: the session opens the new file and
// serves from it, never from the one it held.
TEST_F(DeliveryTablesTest, AStockFileReplacedBetweenTwoHoldsIsOpenedAgain) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "old", "p", 0}));
  DeliveryTables tables(shop());
  {
    DeliveryTables::Hold hold(tables);
    EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 1, nullptr)), std::vector<std::string>{"old"});
  }
  const std::string stock = TableFilePath(shop().StockTablePath());
  const std::string copy = stock + ".new";
  std::filesystem::copy_file(stock, copy);
  std::filesystem::copy_file(CompanionFilePath(stock), CompanionFilePath(copy));
  {
    RecordTable t;
    ASSERT_TRUE(t.Open(copy) && t.GoTo(1) && t.MarkDeleted() && t.Append({"A", "new", "p"}));
  }
  std::filesystem::rename(CompanionFilePath(copy), CompanionFilePath(stock));
  std::filesystem::rename(copy, stock);

  DeliveryTables::Hold hold(tables);
  EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 1, nullptr)), std::vector<std::string>{"new"});
}

// Another program records an order and takes a card between two holds of
// the session, through the store's operations: the next hold finds the
// tables changed (the stamp in the folder's lock file moved) and sees both;
// its own record goes behind the other program's row instead of over it.
TEST_F(DeliveryTablesTest, AnotherProcessWritingBetweenTwoHoldsIsSeen) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"1", "2", "3"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  DeliveryTables tables(shop());
  for (int i = 0; i < 2; ++i) {  // the second hold finds the tables as the first left them
    DeliveryTables::Hold hold(tables, true);
    EXPECT_FALSE(tables.SentCardExists("200"));
    EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 1, nullptr)), std::vector<std::string>{"1"});
  }
  ASSERT_EQ(InChild([this] {
              SentCard row;
              row.itemName = "A";
              row.orderNumber = "200";
              row.cardNumber = "1";
              return AppendSentCard(shop(), row) && TakeStockCard(shop(), "A").has_value();
            }),
            0);

  {
    DeliveryTables::Hold hold(tables, true);
    EXPECT_TRUE(tables.SentCardExists("200"));
    std::size_t total = 0;
    const std::vector<StockCard> cards = tables.LoadFirstStockCardsOf("A", 1, &total);
    ASSERT_EQ(Numbers(cards), std::vector<std::string>{"2"});
    EXPECT_EQ(total, 2u);
    EXPECT_EQ(tables.RecordPlannedCards(PlanFor("300", cards[0])), RecordOutcome::kRecorded);
  }
  EXPECT_EQ(SentOrders(shop()), (std::vector<std::string>{"200", "300"}));
}

// A write between two holds is seen by a table at its next use, even when
// the hold that found the change did not use that table and the holds in
// between found nothing new.
TEST_F(DeliveryTablesTest, AChangeIsSeenByATableUsedOnlyLater) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"1", "2"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  DeliveryTables tables(shop());
  {
    DeliveryTables::Hold hold(tables);
    EXPECT_FALSE(tables.SentCardExists("200"));
    EXPECT_EQ(tables.LoadFirstStockCardsOf("A", 1, nullptr).size(), 1u);
  }
  SentCard row;
  row.itemName = "A";
  row.orderNumber = "200";
  ASSERT_EQ(InChild([&] { return AppendSentCard(shop(), row); }), 0);
  for (int i = 0; i < 2; ++i) {  // the change, then nothing new: the stock alone
    DeliveryTables::Hold hold(tables);
    EXPECT_EQ(tables.LoadFirstStockCardsOf("A", 1, nullptr).size(), 1u);
  }
  DeliveryTables::Hold hold(tables);
  EXPECT_TRUE(tables.SentCardExists("200"));
}

// A writer killed in the middle of a compaction of the stock, after it took
// the folder's lock: it raised the stamp before its first write, so the
// session's next hold looks at the table again, finishes or undoes the
// compaction from its journal and serves the cards as they stand.
TEST_F(DeliveryTablesTest, AWriterKilledHalfWayMakesTheNextHoldLookAgain) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"1", "2", "3"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  DeliveryTables tables(shop());
  for (int i = 0; i < 2; ++i) {
    DeliveryTables::Hold hold(tables);
    EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 5, nullptr)),
              (std::vector<std::string>{"1", "2", "3"}));
  }
  const std::string journal = TableFilePath(shop().StockTablePath()) + ".purge";
  const int exit = InChild([this] {
    ShopContext& context = shop();
    SharedStoreGuard folder(context, true);
    testing::FaultIo io;
    RecordTable t;
    t.SetFileIo(&io);
    if (!folder.status() || !t.Open(context.StockTablePath()) || !t.GoTo(1) || !t.MarkDeleted()) return false;
    io.crashAtWrite = io.writes + 1;  // the compaction's first write
    io.crashExitCode = 42;
    t.Purge();
    return false;
  });
  ASSERT_EQ(exit, 42);
  ASSERT_TRUE(std::filesystem::exists(journal));

  DeliveryTables::Hold hold(tables);
  std::size_t total = 0;
  EXPECT_EQ(Numbers(tables.LoadFirstStockCardsOf("A", 5, &total)), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(total, 2u);
  EXPECT_FALSE(std::filesystem::exists(journal));
}

// True when another open file description can take the write lock on the
// record count of the table at `path`, as another program's writer would.
bool WriteLockFree(const std::string& path) {
  const int fd = ::open(TableFilePath(path).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 16;
  fl.l_len = 8;
  const bool free = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type == F_UNLCK;
  ::close(fd);
  return free;
}

// A hold that only reads leaves every table unlocked, whether it looked at
// the tables (the first hold) or found them unchanged (the later ones);
// a hold that records keeps the stock and the sent cards write-locked until
// it ends, so that other programs' readers never see them half-written.
TEST_F(DeliveryTablesTest, OnlyTheTablesAHoldWritesAreLocked) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"1", "2", "3"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  ShopContext& context = shop();
  const std::string paths[] = {context.StockTablePath(), context.SentTablePath(), context.ItemsTablePath(),
                               context.SettingsTablePath()};
  DeliveryTables tables(context);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    {
      DeliveryTables::Hold hold(tables);
      EXPECT_FALSE(tables.SentCardExists("999"));
      EXPECT_TRUE(tables.ItemExists("A"));
      EXPECT_EQ(tables.LoadFirstStockCardsOf("A", 1, nullptr).size(), 1u);
      tables.SettingValues("x");
      for (const std::string& p : paths) EXPECT_TRUE(WriteLockFree(p)) << p;
    }
    DeliveryTables::Hold hold(tables, true);
    const std::vector<StockCard> cards = tables.LoadFirstStockCardsOf("A", 1, nullptr);
    ASSERT_EQ(cards.size(), 1u);
    ASSERT_EQ(tables.RecordPlannedCards(PlanFor(std::to_string(100 + round), cards[0])),
              RecordOutcome::kRecorded);
    EXPECT_FALSE(WriteLockFree(context.StockTablePath()));
    EXPECT_FALSE(WriteLockFree(context.SentTablePath()));
    EXPECT_TRUE(WriteLockFree(context.ItemsTablePath()));
  }
  for (const std::string& p : paths) EXPECT_TRUE(WriteLockFree(p)) << p;
}

}  // namespace
}  // namespace autodeliver
