// The delivery ledger against a full disk, a consign without an answer and
// an order that recovery cannot settle: no card goes out unrecorded, no
// order gets a second message, and what cannot be settled is marked for the
// seller.
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>

#include "delivery/events.h"
#include "delivery/journal.h"
#include "delivery_fixture.h"
#include "io/file_io.h"
#include "store/delivery_step.h"
#include "store/undelivered_orders.h"
#include "support/fault_io.h"
#include "text/gbk.h"

namespace autodeliver::testing {
namespace {

class Recorder : public DeliveryEvents {
 public:
  void OrderWaiting(const PendingOrder& o, WaitReason r, int) override {
    if (r == WaitReason::kDiskFull) diskFull.insert(o.orderNumber);
  }
  void OrderRecovered(const PendingOrder& o, RecoveryAction a, bool ok) override {
    recovered.push_back({o.orderNumber, a, ok});
  }
  struct Entry {
    std::string order;
    RecoveryAction action;
    bool ok;
  };
  std::set<std::string> diskFull;
  std::vector<Entry> recovered;
};

class DeliveryLedgerTest : public DeliveryFixture {
 protected:
  void TearDown() override {
    SetDeliveryStepFileIo(nullptr);
    DeliveryFixture::TearDown();
  }
  // Card numbers in a message, checked against the sent rows.
  static bool EveryCardRecorded(const std::vector<SentMessage>& messages) {
    std::set<std::string> recorded;
    for (const SentCard& s : Sent()) recorded.insert(s.cardNumber);
    for (const SentMessage& m : messages) {
      for (std::size_t at = m.message.find("D-"); at != std::string::npos;
           at = m.message.find("D-", at + 1)) {
        if (!recorded.count(m.message.substr(at, 4))) return false;
      }
    }
    return true;
  }
};

TEST_F(DeliveryLedgerTest, AFullDiskSendsNothingUnrecordedAndEveryOrderGoesOutOnceWhenSpaceReturns) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  // Each case lets a number of the ledger's writes through before the disk
  // fills: the plan, rows of a multi-card order, the journal's later steps.
  for (int failFrom = 0; failFrom < 12; ++failFrom) {
    SCOPED_TRACE("disk full from write " + std::to_string(failFrom));
    Stock(item, {{"D-" + std::to_string(failFrom % 10) + "a", "p1"},
                 {"D-" + std::to_string(failFrom % 10) + "b", "p2"}});
    const std::string order = PlaceOrder("点卡10元", 2, "买家" + std::to_string(failFrom));
    sender_.sent.clear();
    FaultIo disk;  // full from write `failFrom` (0-based) on
    disk.failWritesFrom = failFrom + 1;
    SetDeliveryStepFileIo(&disk);
    Recorder events;
    const CycleResult full = RunDeliveryCycle(sender_, stop_, &events);
    EXPECT_TRUE(EveryCardRecorded(sender_.sent));
    const std::size_t sentWhileFull = sender_.sent.size();
    if (sentWhileFull == 0) {
      EXPECT_TRUE(events.diskFull.count(order)) << "the wait names the full disk";
      EXPECT_TRUE(full.diskFull);
    }
    // A second cycle on the full disk changes nothing for the buyer.
    RunDeliveryCycle(sender_, stop_, &events);
    EXPECT_EQ(sender_.sent.size(), sentWhileFull);
    EXPECT_TRUE(EveryCardRecorded(sender_.sent));

    disk.failWritesFrom = 0;
    Cycle();
    Cycle();
    SetDeliveryStepFileIo(nullptr);
    std::set<std::string> texts;
    for (const SentMessage& m : sender_.sent) texts.insert(m.message);
    EXPECT_EQ(texts.size(), 1u) << "one card set for the order, whatever was resent";
    EXPECT_GE(sender_.sent.size(), 1u);
    const std::vector<std::string> consigned = Consigned();
    EXPECT_NE(std::find(consigned.begin(), consigned.end(), order), consigned.end());
    int rows = 0;
    for (const SentCard& s : Sent()) rows += s.orderNumber == order;
    EXPECT_EQ(rows, 2);
    EXPECT_TRUE(StockNumbers(item).empty());
    EXPECT_TRUE(DeliveryJournal().Unfinished().empty());
  }
}

TEST_F(DeliveryLedgerTest, AnUnansweredConsignIsRetriedWithoutAnotherMessage) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  Stock(item, {{"K1", "p1"}});
  const std::string order = PlaceOrder("点卡10元", 1, "买家甲");
  const char* logistics = std::getenv("AUTODELIVER_LOGISTICS_HOST");
  const std::string host = logistics ? logistics : "";
  // Once the message is handed, the marketplace's logistics host stops
  // answering: nothing listens on port 1.
  sender_.onSend = [] { setenv("AUTODELIVER_LOGISTICS_HOST", "127.0.0.1:1", 1); };
  Recorder events;
  RunDeliveryCycle(sender_, stop_, &events);
  setenv("AUTODELIVER_LOGISTICS_HOST", host.c_str(), 1);
  sender_.onSend = nullptr;
  EXPECT_EQ(sender_.sent.size(), 1u);
  EXPECT_TRUE(Consigned().empty());
  EXPECT_EQ(Listed(), std::vector<std::string>{order});

  RunDeliveryCycle(sender_, stop_, &events);
  RunDeliveryCycle(sender_, stop_, &events);
  EXPECT_EQ(sender_.sent.size(), 1u) << "no second message";
  EXPECT_EQ(Consigned(), std::vector<std::string>{order});
  int retries = 0;
  for (const auto& e : events.recovered) retries += e.action == RecoveryAction::kConsignRetried && e.ok;
  EXPECT_EQ(retries, 1);
  EXPECT_TRUE(DeliveryJournal().Unfinished().empty());
}

TEST_F(DeliveryLedgerTest, RecordedCardsOfAnOrderNoLongerListedAreMarkedForTheSeller) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  Stock(item, {{"M1", "p1"}});
  // A delivery cut after its record, for an order the marketplace no longer
  // lists.
  DeliveryPlan plan{"GONE-1", item, "买家乙"_gbk, "", 1, "t", {}};
  const std::vector<StockCard> stock = LoadStockCardsOf(item);
  plan.cards.push_back({stock[0].recordNumber, "M1", "p1", "M1"});
  DeliveryJournal journal;
  ASSERT_TRUE(journal.Planned(plan));
  ASSERT_EQ(RecordPlannedCards(plan), RecordOutcome::kRecorded);
  ASSERT_TRUE(journal.Recorded(plan.orderNumber));

  Recorder events;
  RunDeliveryCycle(sender_, stop_, &events);
  EXPECT_TRUE(sender_.sent.empty());
  EXPECT_TRUE(UndeliveredOrders().IsMarked("GONE-1"));
  ASSERT_EQ(events.recovered.size(), 1u);
  EXPECT_EQ(events.recovered[0].action, RecoveryAction::kMarkedForSeller);
  EXPECT_TRUE(journal.Unfinished().empty());
  EXPECT_TRUE(StockNumbers(item).empty());
}

TEST_F(DeliveryLedgerTest, TheJournalPassesOverACutLineAndCompactsToTheUnfinishedOrders) {
  DeliveryJournal journal;
  DeliveryPlan done{"ORDER-1", "item", "buyer", "", 1, "t", {{3, "N1", "P1", "N1"}}};
  DeliveryPlan open{
      "ORDER-2", "item", "buyer\t \n", "", 2, "t", {{4, "N2", "P2", "N2"}, {5, "N3", "", "N3"}}};
  ASSERT_TRUE(journal.Planned(done));
  ASSERT_TRUE(journal.Recorded("ORDER-1"));
  ASSERT_TRUE(journal.Exported("ORDER-1", 0));
  ASSERT_TRUE(journal.Handed("ORDER-1"));
  ASSERT_TRUE(journal.Consigned("ORDER-1"));
  ASSERT_TRUE(journal.Planned(open));
  ASSERT_TRUE(journal.Recorded("ORDER-2"));
  // A line changed on the disk and a last line cut short by a crash.
  {
    std::ofstream out(journal.path(), std::ios::app | std::ios::binary);
    out << "H x4f524445522d32 12345\n";
    out << "C x4f52";
  }
  std::vector<LedgerEntry> entries = journal.Unfinished();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].plan.orderNumber, "ORDER-2");
  EXPECT_EQ(entries[0].plan.buyerNick, "buyer\t \n");
  ASSERT_EQ(entries[0].plan.cards.size(), 2u);
  EXPECT_EQ(entries[0].plan.cards[1].stockRecord, 5);
  EXPECT_EQ(entries[0].plan.cards[1].cardPassword, "");
  EXPECT_TRUE(entries[0].recorded);
  EXPECT_FALSE(entries[0].handed);

  // The next line does not run into the cut one.
  ASSERT_TRUE(journal.Handed("ORDER-2"));
  ASSERT_TRUE(journal.Unfinished().at(0).handed);
  ASSERT_TRUE(journal.Compact());
  EXPECT_EQ(journal.Entries().size(), 1u);
  entries = journal.Unfinished();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].recorded && entries[0].handed);
}

}  // namespace
}  // namespace autodeliver::testing
