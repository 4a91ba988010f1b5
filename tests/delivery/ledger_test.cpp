// The delivery ledger against a full disk, a consign without an answer and
// an order that recovery cannot settle: no card goes out unrecorded, no
// order gets a second message, and what cannot be settled is marked for the
// seller.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "delivery/card_delivery.h"
#include "delivery/card_row_export.h"
#include "delivery/events.h"
#include "delivery/fan_out.h"
#include "delivery/journal.h"
#include "delivery/log.h"
#include "delivery/notification_policy.h"
#include "delivery/recovery.h"
#include "delivery/status_figures.h"
#include "delivery/wording.h"
#include "delivery_fixture.h"
#include "export/card_export.h"
#include "io/file_io.h"
#include "store/delivery_step.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/undelivered_orders.h"
#include "support/fault_io.h"
#include "support/temp_dir.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver::testing {
namespace {

// Every write from the `failFrom`-th on (0-based) fails with `error`: no
// space by default, a failing disk (EIO) or a refused permission (EACCES).
class FullDisk : public FileIo {
 public:
  explicit FullDisk(int failFrom, int error = ENOSPC) : failFrom_(failFrom), error_(error) {}
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    if (armed && writes_++ >= failFrom_) {
      errno = error_;
      return -1;
    }
    return FileIo::WriteAt(fd, data, size, offset);
  }
  bool armed = true;

 private:
  int failFrom_;
  int error_;
  int writes_ = 0;
};

// Counts the flushes of each file.
class FlushCount : public FileIo {
 public:
  int Sync(int fd) override {
    ++of[NameOf(fd)];
    return FileIo::Sync(fd);
  }
  int DataSync(int fd) override {
    ++of[NameOf(fd)];
    return FileIo::DataSync(fd);
  }
  int Total() const {
    int total = 0;
    for (const auto& [name, n] : of) total += n;
    return total;
  }
  std::map<std::string, int> of;  // by file name

 private:
  static std::string NameOf(int fd) {
    const std::filesystem::path link = "/proc/self/fd/" + std::to_string(fd);
    std::error_code error;
    return std::filesystem::read_symlink(link, error).filename().string();
  }
};

class Recorder : public DeliveryEvents {
 public:
  void OrderNotWritten(const PendingOrder& o, const Status& cause) override {
    if (cause.IsDiskFull()) diskFull.insert(o.orderNumber);
  }
  void OrderRecovered(const PendingOrder& o, RecoveryAction a, bool ok, const Status& cause) override {
    recovered.push_back({o.orderNumber, a, ok, cause});
  }
  struct Entry {
    std::string order;
    RecoveryAction action;
    bool ok;
    Status cause;
  };
  std::set<std::string> diskFull;
  std::vector<Entry> recovered;
};

class DeliveryLedgerTest : public DeliveryFixture {
 protected:
  void TearDown() override {
    shop().SetDeliveryFileIo(nullptr);
    DeliveryFixture::TearDown();
  }
  // Card numbers in a message, checked against the sent rows.
  bool EveryCardRecorded(const std::vector<SentMessage>& messages) {
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
    shop().SetDeliveryFileIo(&disk);
    Recorder events;
    const CycleResult full = RunDeliveryCycle(shop(), sender_, stop_, &events);
    EXPECT_TRUE(EveryCardRecorded(sender_.sent));
    const std::size_t sentWhileFull = sender_.sent.size();
    if (sentWhileFull == 0) {
      EXPECT_TRUE(events.diskFull.count(order)) << "the wait names the full disk";
      EXPECT_TRUE(full.notWritten.IsDiskFull()) << full.notWritten.ToString();
    }
    // A second cycle on the full disk changes nothing for the buyer.
    RunDeliveryCycle(shop(), sender_, stop_, &events);
    EXPECT_EQ(sender_.sent.size(), sentWhileFull);
    EXPECT_TRUE(EveryCardRecorded(sender_.sent));

    disk.failWritesFrom = 0;
    Cycle();
    Cycle();
    shop().SetDeliveryFileIo(nullptr);
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
    EXPECT_TRUE(DeliveryJournal(shop()).Unfinished().empty());
  }
}

TEST_F(DeliveryLedgerTest, EachMessageFollowsOneFlushOfItsPlanAndTheIdleCycleFlushesEachTableOnce) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  Stock(item, {{"F1", "p1"}, {"F2", "p2"}, {"F3", "p3"}, {"F4", "p4"}});
  const std::vector<std::string> orders = {PlaceOrder("点卡10元", 1, "买家甲"),
                                           PlaceOrder("点卡10元", 2, "买家乙"),
                                           PlaceOrder("点卡10元", 1, "买家丙")};
  FlushCount flushes;
  shop().SetDeliveryFileIo(&flushes);
  // At each message: the journal's flushes so far, those of any other file
  // (the folder, once, when the journal is made), and the order the journal
  // holds recorded with the cards of the message.
  std::vector<int> flushesAtSend, otherFlushesAtSend;
  std::vector<bool> planKept;
  sender_.onSend = [&] {
    flushesAtSend.push_back(flushes.of["delivery.journal"]);
    otherFlushesAtSend.push_back(flushes.Total() - flushes.of["delivery.journal"]);
    const std::string& message = sender_.sent.back().message;
    bool kept = false;
    for (const LedgerEntry& e : DeliveryJournal(shop()).Entries()) {
      bool named = e.recorded && !e.handed;
      for (const PlannedCard& c : e.plan.cards)
        named = named && message.find(c.sentNumber) != std::string::npos;
      kept = kept || named;
    }
    planKept.push_back(kept);
  };
  Cycle();
  sender_.onSend = nullptr;

  ASSERT_EQ(sender_.sent.size(), 3u);
  EXPECT_EQ(flushesAtSend, (std::vector<int>{1, 2, 3})) << "one flush per order before its message";
  EXPECT_EQ(otherFlushesAtSend, (std::vector<int>{1, 1, 1})) << "the new journal's folder only";
  EXPECT_EQ(planKept, (std::vector<bool>{true, true, true}));
  // The delivering cycle flushed its journal and nothing else; every reader
  // already sees the rows.
  EXPECT_EQ(flushes.Total(), 4);
  EXPECT_TRUE(StockNumbers(item).empty());
  EXPECT_EQ(Sent().size(), 4u);
  EXPECT_EQ(Consigned().size(), 3u);
  EXPECT_TRUE(ExportedRows().empty()) << "card.mdb waits for the idle cycle";

  // The idle cycle: each table flushed once, card.mdb written, the journal
  // cut to nothing in place.
  const std::map<std::string, int> before = flushes.of;
  auto since = [&](const std::string& name) {
    const auto was = before.find(name);
    return flushes.of[name] - (was == before.end() ? 0 : was->second);
  };
  const CycleResult idle = Cycle();
  shop().SetDeliveryFileIo(nullptr);
  EXPECT_EQ(idle.ordersDelivered, 0);
  const std::string stock = std::filesystem::path(TableFilePath(shop().StockTablePath())).filename().string();
  const std::string sent = std::filesystem::path(TableFilePath(shop().SentTablePath())).filename().string();
  EXPECT_EQ(since(stock), 1) << "the stock table once";
  EXPECT_EQ(since(sent), 1) << "the sent table once";
  EXPECT_EQ(since("delivery.journal"), 1) << "its exporting line only";
  EXPECT_EQ(ExportedRows().size(), 4u);
  EXPECT_TRUE(DeliveryJournal(shop()).Entries().empty());
  EXPECT_EQ(std::filesystem::file_size(DeliveryJournalPath(shop())), 0u);
}

TEST_F(DeliveryLedgerTest, AJournalLeftByAnEarlierVersionIsFinishedWithoutARowWrittenTwice) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  Stock(item, {{"V1", "p1"}, {"V2", "p2"}});
  // The earlier version flushed the tables before its recorded line and
  // appended each card.mdb row between an exporting and an exported line;
  // it was cut after the first card's row went in, before its line.
  DeliveryPlan plan{"OLD-1", item, "买家丁"_gbk, "", 2, "t", {}};
  for (const StockCard& c : LoadStockCardsOf(shop(), item))
    plan.cards.push_back({c.recordNumber, c.cardNumber, c.cardPassword, c.cardNumber});
  {
    DeliveryJournal journal(shop());
    ASSERT_TRUE(journal.Planned(plan));
    ASSERT_EQ(RecordPlannedCards(shop(), plan), RecordOutcome::kRecorded);
    ASSERT_TRUE(journal.Recorded(plan.orderNumber));
    ASSERT_TRUE(journal.Exporting(plan.orderNumber, 0, 0));
    ASSERT_TRUE(ExportCardToAccess(shop(), plan.orderNumber, "V1", "p1"));
    ASSERT_TRUE(journal.Handed(plan.orderNumber));
    ASSERT_TRUE(journal.Consigned(plan.orderNumber));
  }
  RecoverDeliveryRecords(shop(), nullptr);
  EXPECT_EQ(ExportedRows(), (std::vector<std::string>{"OLD-1|V1|p1", "OLD-1|V2|p2"}));
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_TRUE(StockNumbers(item).empty());
  EXPECT_TRUE(DeliveryJournal(shop()).Entries().empty()) << "finished, and cut from the journal";
}

TEST_F(DeliveryLedgerTest, ARecordedOrderWhoseRowsWereLostGetsThemBackFromItsPlan) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  Stock(item, {{"W1", "p1"}, {"W2", "p2"}, {"W3", "p3"}});
  DeliveryPlan plan{"LOST-1", item, "买家戊"_gbk, "", 2, "t", {}};
  const std::vector<StockCard> stock = LoadStockCardsOf(shop(), item);
  for (std::size_t i = 0; i < 2; ++i)
    plan.cards.push_back(
        {stock[i].recordNumber, stock[i].cardNumber, stock[i].cardPassword, stock[i].cardNumber});
  DeliveryJournal journal(shop());
  ASSERT_TRUE(journal.Planned(plan));
  ASSERT_EQ(RecordPlannedCards(shop(), plan), RecordOutcome::kRecorded);
  ASSERT_TRUE(journal.Recorded(plan.orderNumber));
  ASSERT_TRUE(journal.Handed(plan.orderNumber));
  // A power cut kept the stock (flushed by a compaction in between) but not
  // the sent rows, still unflushed: the cards are in neither table.
  {
    RecordTable sent;
    ASSERT_TRUE(sent.Open(shop().SentTablePath()));
    ASSERT_TRUE(sent.MarkDeletedWhere([](RecordTable&) { return true; }));
    ASSERT_TRUE(sent.Purge());
  }
  CompactStock(shop());  // if the delivery left any marked card
  ASSERT_EQ(StockNumbers(item), std::vector<std::string>{"W3"});

  RecoverDeliveryRecords(shop(), nullptr);
  std::vector<std::string> rows;
  for (const SentCard& s : Sent()) rows.push_back(s.orderNumber + "|" + s.cardNumber);
  EXPECT_EQ(rows, (std::vector<std::string>{"LOST-1|W1", "LOST-1|W2"}));
  EXPECT_FALSE(UndeliveredOrders(shop()).IsMarked("LOST-1"));
  EXPECT_EQ(StockNumbers(item), std::vector<std::string>{"W3"});
  EXPECT_EQ(ExportedRows(), (std::vector<std::string>{"LOST-1|W1|p1", "LOST-1|W2|p2"}));
}

// Writes to the stock table fail for want of space while armed.
class FullStockDisk : public FileIo {
 public:
  explicit FullStockDisk(const ShopContext& shop) : stockFile_(TableFilePath(shop.StockTablePath())) {}
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    const std::filesystem::path link = "/proc/self/fd/" + std::to_string(fd);
    std::error_code error;
    if (armed && std::filesystem::read_symlink(link, error) == stockFile_) {
      errno = ENOSPC;
      return -1;
    }
    return FileIo::WriteAt(fd, data, size, offset);
  }
  bool armed = true;

 private:
  const std::string stockFile_;
};

TEST_F(DeliveryLedgerTest, ACardWhoseStockMarkFailedAfterItsRowIsNotPlannedForTheNextOrder) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  Stock(item, {{"S1", "p1"}, {"S2", "p2"}});
  const std::string first = PlaceOrder("点卡10元", 1, "买家己");
  const std::string second = PlaceOrder("点卡10元", 1, "买家庚");
  FullStockDisk disk(shop());
  shop().SetDeliveryFileIo(&disk);
  Cycle();  // the first order's row is written, its card stays in stock
  disk.armed = false;
  Cycle();
  Cycle();
  shop().SetDeliveryFileIo(nullptr);
  std::map<std::string, std::set<std::string>> ordersOf;  // card -> orders with a row of it
  for (const SentCard& s : Sent()) ordersOf[s.cardNumber].insert(s.orderNumber);
  for (const auto& [card, orders] : ordersOf) EXPECT_EQ(orders.size(), 1u) << card << " given to two orders";
  EXPECT_EQ(ordersOf.size(), 2u);
  const std::vector<std::string> consigned = Consigned();
  EXPECT_EQ(std::set<std::string>(consigned.begin(), consigned.end()),
            (std::set<std::string>{first, second}));
}

// Each cause of a failed write reaches the seller as itself, from the
// failing call through the cycle to the delivery log's line, the status
// line and the notification (which the phone alerts take too): no space, an
// I/O error naming the file that failed (the journal, or the sent-cards
// table behind a journal line that got through), a refused permission.
TEST_F(DeliveryLedgerTest, AFailedWriteReachesTheSellerWithItsCause) {
  struct Notes : Notifier {
    void Notify(const Notification& n) override { told.push_back(n); }
    std::vector<Notification> told;
  };
  struct Case {
    const char* what;
    int failFrom;
    int error;
    std::string logged;      // in the log line
    std::string statusLine;  // in the status line
    std::string summary;     // the notification's title
    std::string advice;      // in the log line and the notification
  };
  const std::string journal = DeliveryJournalPath(shop());
  const std::string sentName = std::filesystem::path(shop().SentTablePath()).filename().string();
  const Case cases[] = {
      {"no space", 0, ENOSPC, "磁盘已满，卡密无法记入已发卡密", "磁盘已满，卡密无法记录，暂停发货",
       "磁盘已满", "请腾出磁盘空间"},
      {"failing disk under the journal", 0, EIO, "读写文件出错（" + journal + "，错误号 5）",
       "读写 delivery.journal 出错，卡密无法记录，暂停发货", "磁盘读写出错", "请检查磁盘"},
      {"failing disk under the sent cards", 1, EIO, sentName.substr(0, sentName.rfind('.')) + ".",
       "出错，卡密无法记录，暂停发货", "磁盘读写出错", "请检查磁盘"},
      {"no permission", 0, EACCES, "没有写入权限（" + journal + "）", "没有写入权限，卡密无法记录，暂停发货",
       "没有写入权限", "请检查数据文件夹的写入权限"},
  };
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Stock(item, {{"C-1", "p1"}});
    const std::string order = PlaceOrder("点卡10元", 1, "买家");
    DeliveryLog::Options options;
    options.path = (dir_ / "logs" / (std::string(c.what) + ".log")).string();
    DeliveryLog log(options);
    std::vector<DeliveryLogLine> lines;
    log.AddLineSink([&lines](const DeliveryLogLine& line) { lines.push_back(line); });
    DeliveryStatus status;
    Notes notes;
    NotificationPolicy policy(&notes, [](NotificationKind) { return true; });
    DeliveryEventsFanOut events;
    for (DeliveryEvents* e : std::initializer_list<DeliveryEvents*>{&log, &status, &policy}) events.Add(e);

    FullDisk disk(c.failFrom, c.error);
    shop().SetDeliveryFileIo(&disk);
    const CycleResult result = RunDeliveryCycle(shop(), sender_, stop_, &events);
    shop().SetDeliveryFileIo(nullptr);
    EXPECT_TRUE(sender_.sent.empty()) << "nothing goes out unrecorded";
    EXPECT_EQ(result.notWritten.error(), c.error) << result.notWritten.ToString();

    const DeliveryLogLine* line = nullptr;
    for (const DeliveryLogLine& l : lines)
      if (l.orderNumber == order && l.level == LineLevel::kWarning) line = &l;
    ASSERT_NE(line, nullptr);
    EXPECT_NE(line->text.find(c.logged), std::string::npos) << line->text;
    EXPECT_NE(line->text.find(c.advice), std::string::npos) << line->text;
    EXPECT_EQ(line->text.find("磁盘已满"), c.error == ENOSPC ? line->text.find(c.logged) : std::string::npos)
        << "only a full disk is called one: " << line->text;
    EXPECT_EQ(line->reason.rfind("卡密无法记录：", 0), 0u) << line->reason;

    const std::string shown = StatusLineText(status.Figures(), 5, false);
    EXPECT_NE(shown.find(c.statusLine), std::string::npos) << shown;

    ASSERT_EQ(notes.told.size(), 1u);
    EXPECT_EQ(notes.told[0].summary, c.summary);
    EXPECT_NE(notes.told[0].body.find(c.advice), std::string::npos) << notes.told[0].body;
    EXPECT_NE(notes.told[0].body.find("卡密没有发出"), std::string::npos) << notes.told[0].body;

    // Once the disk takes writes again the order goes out as usual, and the
    // status line no longer shows the failure.
    RunDeliveryCycle(shop(), sender_, stop_, &events);
    EXPECT_EQ(sender_.sent.size(), 1u);
    EXPECT_EQ(StatusLineText(status.Figures(), 5, false).find("卡密无法记录"), std::string::npos);
    sender_.sent.clear();
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
  RunDeliveryCycle(shop(), sender_, stop_, &events);
  setenv("AUTODELIVER_LOGISTICS_HOST", host.c_str(), 1);
  sender_.onSend = nullptr;
  EXPECT_EQ(sender_.sent.size(), 1u);
  EXPECT_TRUE(Consigned().empty());
  EXPECT_EQ(Listed(), std::vector<std::string>{order});

  RunDeliveryCycle(shop(), sender_, stop_, &events);
  RunDeliveryCycle(shop(), sender_, stop_, &events);
  EXPECT_EQ(sender_.sent.size(), 1u) << "no second message";
  EXPECT_EQ(Consigned(), std::vector<std::string>{order});
  int retries = 0;
  for (const auto& e : events.recovered) retries += e.action == RecoveryAction::kConsignRetried && e.ok;
  EXPECT_EQ(retries, 1);
  EXPECT_TRUE(DeliveryJournal(shop()).Unfinished().empty());
}

TEST_F(DeliveryLedgerTest, RecordedCardsOfAnOrderNoLongerListedAreMarkedForTheSeller) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  Stock(item, {{"M1", "p1"}});
  // A delivery cut after its record, for an order the marketplace no longer
  // lists.
  DeliveryPlan plan{"GONE-1", item, "买家乙"_gbk, "", 1, "t", {}};
  const std::vector<StockCard> stock = LoadStockCardsOf(shop(), item);
  plan.cards.push_back({stock[0].recordNumber, "M1", "p1", "M1"});
  DeliveryJournal journal(shop());
  ASSERT_TRUE(journal.Planned(plan));
  ASSERT_EQ(RecordPlannedCards(shop(), plan), RecordOutcome::kRecorded);
  ASSERT_TRUE(journal.Recorded(plan.orderNumber));

  Recorder events;
  RunDeliveryCycle(shop(), sender_, stop_, &events);
  EXPECT_TRUE(sender_.sent.empty());
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked("GONE-1"));
  ASSERT_EQ(events.recovered.size(), 1u);
  EXPECT_EQ(events.recovered[0].action, RecoveryAction::kMarkedForSeller);
  EXPECT_TRUE(journal.Unfinished().empty());
  EXPECT_TRUE(StockNumbers(item).empty());
}

// A mark that cannot be kept is not reported as kept: the order stays in the
// journal, the line says why, and the next cycle marks it.
TEST_F(DeliveryLedgerTest, AMarkThatCannotBeKeptIsToldAsSuchAndTriedAgain) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  Stock(item, {{"M2", "p1"}});
  DeliveryPlan plan{"GONE-2", item, "买家癸"_gbk, "", 1, "t", {}};
  plan.cards.push_back({LoadStockCardsOf(shop(), item)[0].recordNumber, "M2", "p1", "M2"});
  DeliveryJournal journal(shop());
  ASSERT_TRUE(journal.Planned(plan));
  ASSERT_EQ(RecordPlannedCards(shop(), plan), RecordOutcome::kRecorded);
  ASSERT_TRUE(journal.Recorded(plan.orderNumber));
  // Another program's file where the marks belong: never overwritten.
  const std::string marks = UndeliveredOrdersPath(shop());
  WriteFileBytes(marks, "not a file of marks\n");

  Recorder events;
  RunDeliveryCycle(shop(), sender_, stop_, &events);
  ASSERT_EQ(events.recovered.size(), 1u);
  const Recorder::Entry& told = events.recovered[0];
  EXPECT_EQ(told.action, RecoveryAction::kMarkedForSeller);
  EXPECT_FALSE(told.ok);
  EXPECT_EQ(told.cause.code(), Status::Code::kCorrupt);
  const std::string line = WordOrderRecovered(LedgerOrder(plan), told.action, told.ok, told.cause).text;
  EXPECT_NE(line.find("数据文件已损坏（" + marks + "），未能标记为未送达"), std::string::npos) << line;
  EXPECT_EQ(line.find("已标记"), std::string::npos) << line;
  EXPECT_EQ(ReadFileBytes(marks), "not a file of marks\n");
  EXPECT_EQ(journal.Unfinished().size(), 1u);

  std::filesystem::remove(marks);
  events.recovered.clear();
  RunDeliveryCycle(shop(), sender_, stop_, &events);
  ASSERT_EQ(events.recovered.size(), 1u);
  EXPECT_TRUE(events.recovered[0].ok);
  EXPECT_TRUE(UndeliveredOrders(shop()).IsMarked("GONE-2"));
  EXPECT_TRUE(journal.Unfinished().empty());
}

TEST_F(DeliveryLedgerTest, TheJournalPassesOverACutLineAndCompactsToTheUnfinishedOrders) {
  DeliveryJournal journal(shop());
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
  // One finished order stays beside an open one (far fewer than the bound).
  ASSERT_TRUE(journal.Compact());
  EXPECT_EQ(journal.Entries().size(), 2u);
  entries = DeliveryJournal(shop()).Unfinished();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].recorded && entries[0].handed);
}

// Orders delivered in cycles of ten, as the cycle does, without an idle
// cycle in between: the journal is applied at the end of the cycle that
// takes it past its bound, not before. A process that dies once that apply
// has brought the tables and card.mdb to the disk but before the journal is
// cut, or a power cut that takes the cut back, leaves the restart nothing
// to write again.
int g_killAtStep = 0;  // 1: "exported", 2: "journal-cut"
FaultIo* g_cutPower = nullptr;
void KillAtStep(const char* step) {
  const bool here = (g_killAtStep == 1 && std::string(step) == "exported") ||
                    (g_killAtStep == 2 && std::string(step) == "journal-cut");
  if (!here) return;
  if (g_cutPower) g_cutPower->PowerCut();
  ::raise(SIGKILL);
}

TEST_F(DeliveryLedgerTest, AJournalPastItsBoundIsAppliedMidRunAndACutAfterTheApplyWritesNothingTwice) {
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  const int orders = static_cast<int>(kApplyBound) + 6;  // the bound passed in the seventh cycle
  struct Case {
    const char* what;
    int killAtStep;
    bool powerCut;
  };
  const Case cases[] = {
      {"undisturbed", 0, false},
      {"killed after the apply, before the cut", 1, false},
      {"power cut taking the cut back", 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string prefix = std::string("B") + std::to_string(c.killAtStep) + "-";
    std::vector<std::pair<std::string, std::string>> cards;
    for (int i = 0; i < orders; ++i) cards.push_back({prefix + std::to_string(i), "p"});
    Stock(item, cards);
    const std::filesystem::path rowsSeen = dir_ / "rows-seen";
    std::filesystem::remove(rowsSeen);
    const pid_t pid = ::fork();
    if (pid == 0) {
      FaultIo io;
      io.recordUnflushed = true;
      if (c.powerCut) {
        g_cutPower = &io;
        shop().SetDeliveryFileIo(&io);
      }
      g_killAtStep = c.killAtStep;
      SetDeliveryStepHook(&KillAtStep);
      DeliveryJournal journal(shop());
      std::ofstream seen(rowsSeen);
      for (int i = 0; i < orders;) {
        DeliveryTables tables(shop());
        for (int k = 0; k < 10 && i < orders; ++k, ++i) {
          const std::string order = prefix + "O" + std::to_string(i);
          if (!DeliverCards(journal, tables, order, item, "buyer", "", 1).message) ::_exit(2);
          journal.Handed(order);
          journal.Consigned(order);
        }
        ApplyDeliveryJournal(journal, &tables, ApplyWhen::kWhenDue);
        seen << CardExportRowCount(shop()).value_or(9999) << " " << std::flush;
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (c.killAtStep) {
      ASSERT_TRUE(WIFSIGNALED(status));
    } else {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      // card.mdb untouched for six cycles, whole at the seventh's end.
      std::ifstream in(rowsSeen);
      std::vector<int> counts;
      for (int n; in >> n;) counts.push_back(n);
      EXPECT_EQ(counts, (std::vector<int>{0, 0, 0, 0, 0, 0, orders}));
      EXPECT_TRUE(DeliveryJournal(shop()).Entries().empty()) << "cut once applied";
    }
    // The restart.
    RecoverDeliveryRecords(shop(), nullptr);
    int sentRows = 0;
    for (const SentCard& s : Sent()) sentRows += s.orderNumber.rfind(prefix, 0) == 0;
    EXPECT_EQ(sentRows, orders);
    std::map<std::string, int> copies;
    for (const std::string& row : ExportedRows())
      if (row.rfind(prefix, 0) == 0) ++copies[row];
    EXPECT_EQ(copies.size(), static_cast<std::size_t>(orders));
    for (const auto& [row, n] : copies) EXPECT_EQ(n, 1) << row;
    EXPECT_TRUE(DeliveryJournal(shop()).Entries().empty());
    EXPECT_TRUE(StockNumbers(item).empty());
  }
}

// The journal's compaction: cut to nothing in place once every order is
// finished; rewritten with the open orders once the finished ones beside
// them reach the bound; otherwise left as it is. Each state as a fresh
// process reads the file.
TEST_F(DeliveryLedgerTest, CompactionCutsTheFinishedOrdersInPlaceOrAtTheBound) {
  auto finish = [](DeliveryJournal& journal, const std::string& order) {
    ASSERT_TRUE(journal.Planned({order, "item", "buyer", "", 1, "t", {{3, "N" + order, "P", "N" + order}}}));
    ASSERT_TRUE(journal.Recorded(order));
    ASSERT_TRUE(journal.Exported(order, 0));
    ASSERT_TRUE(journal.Consigned(order));
  };
  struct Case {
    const char* what;
    std::size_t finished;
    bool open;
    std::size_t entriesAfter;
    bool fileEmpty;
    bool rewritten;  // through a new file, renamed over the old
  };
  const Case cases[] = {
      {"all finished", 3, false, 0, true, false},
      {"one open, few finished", 3, true, 4, false, false},
      {"one open, a bound of finished", DeliveryJournal::kCompactAt, true, 1, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(DeliveryJournalPath(shop()));
    DeliveryJournal journal(shop());
    if (c.open) {
      ASSERT_TRUE(journal.Planned({"OPEN", "item", "buyer", "", 1, "t", {{9, "NO", "PO", "NO"}}}));
    }
    for (std::size_t i = 0; i < c.finished; ++i) finish(journal, "DONE-" + std::to_string(i));
    struct stat was {};
    ASSERT_EQ(::stat(DeliveryJournalPath(shop()).c_str(), &was), 0);
    ASSERT_TRUE(journal.Compact());
    struct stat now {};
    ASSERT_EQ(::stat(DeliveryJournalPath(shop()).c_str(), &now), 0);
    EXPECT_EQ(now.st_size == 0, c.fileEmpty);
    EXPECT_EQ(now.st_ino != was.st_ino, c.rewritten);
    const std::string copy = ReadFileBytes(DeliveryJournalPath(shop()));
    std::filesystem::remove(DeliveryJournalPath(shop()));
    std::ofstream(DeliveryJournalPath(shop()), std::ios::binary) << copy;
    const std::vector<LedgerEntry> read = DeliveryJournal(shop()).Entries();
    EXPECT_EQ(read.size(), c.entriesAfter);
    if (!c.open) continue;
    const std::vector<LedgerEntry> open = DeliveryJournal(shop()).Unfinished();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].plan.orderNumber, "OPEN");
    // A line appended after the compaction lands after what it kept.
    ASSERT_TRUE(DeliveryJournal(shop()).Closed("OPEN"));
    EXPECT_TRUE(DeliveryJournal(shop()).Unfinished().empty());
    EXPECT_EQ(DeliveryJournal(shop()).Entries().size(), c.entriesAfter);
  }
}

// A delivery cut short whose cards the recovery cannot record now: the
// line says why, as a failed write of a delivery does, and the plan is
// completed once the disk takes writes again.
// A FaultIo whose faults fall on one file alone: every other file is
// written as usual.
class FaultOnOneFile : public FaultIo {
 public:
  explicit FaultOnOneFile(std::string path) : path_(std::move(path)) {}
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    const std::filesystem::path link = "/proc/self/fd/" + std::to_string(fd);
    std::error_code error;
    if (std::filesystem::read_symlink(link, error) != path_) return FileIo::WriteAt(fd, data, size, offset);
    return FaultIo::WriteAt(fd, data, size, offset);
  }

 private:
  std::filesystem::path path_;
};

// A delivery cut short whose cards the recovery cannot record: the line
// names the cause of the failed write (the stock table's, or the journal's
// when the cards are recorded but the journal cannot say so), as a failed
// write of a delivery does, and the plan completes once the disk takes
// writes again.
TEST_F(DeliveryLedgerTest, ARecoveryThatCannotRecordItsCardsSaysWhy) {
  struct Case {
    const char* what;
    std::string file;
    int error;
    std::string logged;  // in the log line, the cause before what failed
    std::string advice;
  };
  const std::string stockTable = TableFilePath(shop().StockTablePath());
  const std::string journal = DeliveryJournalPath(shop());
  const Case cases[] = {
      {"stock table full", stockTable, ENOSPC, "磁盘已满，原定卡密补记失败", "请腾出磁盘空间"},
      {"stock table failing", stockTable, EIO,
       "读写文件出错（" + stockTable + "，错误号 5），原定卡密补记失败", "请检查磁盘"},
      {"journal refused", journal, EACCES, "没有写入权限（" + journal + "），原定卡密补记失败",
       "请检查数据文件夹的写入权限"},
      {"journal failing", journal, EIO, "读写文件出错（" + journal + "，错误号 5），原定卡密补记失败",
       "请检查磁盘"},
  };
  const std::string item = "点卡10元"_gbk;
  Monitor(item);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string card = std::string("R-") + c.what;
    Stock(item, {{card, "p1"}});
    // Cut after its plan reached the journal, before its rows.
    DeliveryPlan plan{card, item, "买家壬"_gbk, "", 1, "t", {}};
    const std::vector<StockCard> stock = LoadStockCardsOf(shop(), item);
    ASSERT_EQ(stock.size(), 1u);
    plan.cards.push_back({stock[0].recordNumber, card, "p1", card});
    ASSERT_TRUE(DeliveryJournal(shop()).Planned(plan));

    DeliveryLog::Options options;
    options.path = (dir_ / "logs" / (std::string(c.what) + ".log")).string();
    DeliveryLog log(options);
    std::vector<DeliveryLogLine> lines;
    log.AddLineSink([&lines](const DeliveryLogLine& line) { lines.push_back(line); });
    Recorder recorder;
    DeliveryEventsFanOut events;
    events.Add(&log);
    events.Add(&recorder);

    FaultOnOneFile disk(c.file);
    disk.failWrite = 1;
    disk.failWriteErrno = c.error;
    shop().SetDeliveryFileIo(&disk);
    RecoverDeliveryRecords(shop(), &events);
    shop().SetDeliveryFileIo(nullptr);
    ASSERT_EQ(recorder.recovered.size(), 1u);
    EXPECT_EQ(recorder.recovered[0].action, RecoveryAction::kRecordsCompleted);
    EXPECT_FALSE(recorder.recovered[0].ok);
    EXPECT_EQ(recorder.recovered[0].cause.error(), c.error) << recorder.recovered[0].cause.ToString();
    EXPECT_EQ(recorder.recovered[0].cause.path(), c.file);
    ASSERT_FALSE(lines.empty());
    const DeliveryLogLine& line = lines.back();
    EXPECT_EQ(line.level, LineLevel::kWarning);
    EXPECT_NE(line.text.find(c.logged), std::string::npos) << line.text;
    EXPECT_NE(line.text.find(c.advice), std::string::npos) << line.text;
    EXPECT_EQ(line.text.find("可能"), std::string::npos) << "no guessed cause: " << line.text;

    recorder.recovered.clear();
    RecoverDeliveryRecords(shop(), &recorder);
    EXPECT_TRUE(StockNumbers(item).empty());
    int rows = 0;
    for (const SentCard& s : Sent()) rows += s.orderNumber == plan.orderNumber;
    EXPECT_EQ(rows, 1) << "recorded once, whatever the first try left";
    const std::vector<LedgerEntry> open = DeliveryJournal(shop()).Unfinished();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_TRUE(open[0].recorded) << "the cycle sends the recorded cards next";
    ASSERT_TRUE(DeliveryJournal(shop()).Closed(plan.orderNumber));
  }
}

}  // namespace
}  // namespace autodeliver::testing
