// Deliveries killed with SIGKILL at every boundary between two of their
// effects, and at random moments, then restarted: the audit of the stock,
// the sent rows, the journal, card.mdb, the messages and the marketplace's
// consigned orders finds no card lost or given twice, no order with two
// different card sets, none stranded, none cut, no row missing from
// card.mdb nor written there twice (read back with mdb-export), and every
// table passing its check.
//
// Each delivering "process" is a fork of the test running a delivering
// cycle and the idle one after it; the kill point is armed in the child through the delivery step hook. The
// restart is a further cycle of the parent (nothing is kept in memory
// between cycles but what the tables and the journal hold).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "delivery/journal.h"
#include "delivery_fixture.h"
#include "io/file_io.h"
#include "store/delivery_step.h"
#include "support/fault_io.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver::testing {
namespace {

int g_killAt = 0;  // the boundary (1-based) at which the child dies; 0: never
int g_seen = 0;
FaultIo* g_powerCut = nullptr;  // set: the power goes off at the kill

void KillHook(const char*) {
  ++g_seen;
  if (g_killAt <= 0 || g_seen != g_killAt) return;
  if (g_powerCut) g_powerCut->PowerCut();
  ::raise(SIGKILL);
}

// Hands every message to a transcript file (written whole before Send
// returns, as the IM client would have shown it), with a boundary after.
class TranscriptSender : public MessageSender {
 public:
  explicit TranscriptSender(std::string path) : path_(std::move(path)) {}
  bool Send(const std::string& seller, const std::string& buyer, const std::string& message) override {
    const std::string line = buyer + "\t" + message + "\x1e";
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    const bool ok = fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (fd >= 0) ::close(fd);
    DeliveryStepBoundary("sent");
    return ok;
  }

 private:
  std::string path_;
};

struct Order {
  std::string number;
  std::string buyer;  // GBK
  int quantity;
};

class DeliveryCrashTest : public DeliveryFixture {
 protected:
  void SetUp() override {
    DeliveryFixture::SetUp();
    item_ = "点卡10元"_gbk;
  }
  void TearDown() override {
    SetDeliveryStepHook(nullptr);
    DeliveryFixture::TearDown();
  }

  // A fresh data folder with its stock, and new orders on the marketplace.
  void Prepare(int run) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::string error;
    ASSERT_TRUE(CreateDataTables(dir_.string(), &error)) << error;
    ASSERT_TRUE(CreateCardDatabase((dir_ / "card.mdb").string()));
    Monitor(item_);
    cards_.clear();
    for (int i = 0; i < 9; ++i)
      cards_.push_back({"C" + std::to_string(run) + "-" + std::to_string(i), "p" + std::to_string(i)});
    Stock(item_, cards_);
    orders_.clear();
    const int quantities[] = {1, 3, 2};
    for (int i = 0; i < 3; ++i) {
      const std::string buyer = "买家" + std::to_string(run) + "_" + std::to_string(i);
      orders_.push_back(
          {PlaceOrder("点卡10元", quantities[i], buyer), Utf8ToGbkForTest(buyer), quantities[i]});
    }
    transcript_ = (dir_ / "transcript").string();
  }
  static std::string Utf8ToGbkForTest(const std::string& utf8) { return Utf8ToGbk(utf8).value_or(utf8); }

  // One delivering process: a fork running one cycle, killed at boundary
  // `killAt` (0: never) or after `killAfterMicros` (0: never). True when it
  // was killed.
  bool RunChild(int killAt, int killAfterMicros = 0, bool powerCut = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      FaultIo io;
      io.recordUnflushed = true;
      if (powerCut) {
        g_powerCut = &io;
        shop().SetDeliveryFileIo(&io);
      }
      g_killAt = killAt;
      g_seen = 0;
      SetDeliveryStepHook(&KillHook);
      TranscriptSender sender(transcript_);
      std::atomic<bool> stop{false};
      // The delivering cycle, then the idle one that brings its deliveries
      // to the tables' and card.mdb's disk: both may be cut.
      RunDeliveryCycle(shop(), sender, stop);
      RunDeliveryCycle(shop(), sender, stop);
      std::ofstream(dir_ / "boundaries") << g_seen;
      ::_exit(0);
    }
    if (killAfterMicros > 0) {
      ::usleep(killAfterMicros);  // a random moment of the child's run, not a synchronisation
      ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status);
  }

  // The restart: cycles of an undisturbed process until nothing changes.
  void Restart() {
    TranscriptSender sender(transcript_);
    std::atomic<bool> stop{false};
    for (int i = 0; i < 2; ++i) RunDeliveryCycle(shop(), sender, stop);
  }

  // The audit; `what` names the run in failures. Counts into failures_.
  void Audit(const std::string& what) {
    std::map<std::string, std::string> owner;  // card number -> where it is
    int lost = 0, doubled = 0, cut = 0, twoSets = 0, stranded = 0, missingRows = 0, doubledRows = 0,
        badTables = 0;
    for (const StockCard& c : LoadStockCardsOf(shop(), item_)) {
      if (!owner.emplace(c.cardNumber, "stock").second) ++doubled;
    }
    std::map<std::string, std::vector<std::string>> rowsOf;
    for (const SentCard& s : Sent()) {
      if (!owner.emplace(s.cardNumber, s.orderNumber).second) ++doubled;
      rowsOf[s.orderNumber].push_back(s.cardNumber);
    }
    for (const auto& [number, password] : cards_)
      if (!owner.count(number)) ++lost;

    // Messages per buyer, as sets of card lines.
    std::map<std::string, std::set<std::string>> messagesOf;
    {
      std::ifstream in(transcript_, std::ios::binary);
      std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::size_t from = 0;
      for (std::size_t end = all.find('\x1e'); end != std::string::npos; end = all.find('\x1e', from)) {
        const std::string entry = all.substr(from, end - from);
        from = end + 1;
        const std::size_t tab = entry.find('\t');
        if (!messagesOf[entry.substr(0, tab)].insert(entry.substr(tab + 1)).second) ++repeated_;
      }
    }
    const std::vector<std::string> listed = Listed(), consigned = Consigned();
    const std::vector<std::string> exported = ExportedRows();
    for (const Order& o : orders_) {
      const std::vector<std::string>& rows = rowsOf[o.number];
      if (!rows.empty() && static_cast<int>(rows.size()) != o.quantity) ++cut;
      const auto& messages = messagesOf[o.buyer];
      if (messages.size() > 1) ++twoSets;
      // Delivered means: its rows, one message naming exactly them, consigned.
      const bool isConsigned = std::count(consigned.begin(), consigned.end(), o.number) > 0;
      const bool isListed = std::count(listed.begin(), listed.end(), o.number) > 0;
      bool messageMatches = messages.size() == 1;
      for (const std::string& number : rows)
        messageMatches = messageMatches && messages.begin()->find(number) != std::string::npos;
      if (rows.empty() || !messageMatches || !isConsigned || isListed) ++stranded;
      for (const SentCard& s : Sent()) {
        if (s.orderNumber != o.number) continue;
        const std::string row = o.number + "|" + s.cardNumber + "|" + s.cardPassword;
        const auto copies = std::count(exported.begin(), exported.end(), row);
        if (copies == 0) ++missingRows;
        if (copies > 1) ++doubledRows;
      }
    }
    for (const std::string& table : {shop().StockTablePath(), shop().SentTablePath()}) {
      RecordTable t;
      if (!t.Open(table)) {
        ++badTables;
        continue;
      }
      // Every record readable, and the companion file's chains sound.
      for (std::int32_t r = 1; r <= t.RecordCount(); ++r) {
        t.GoTo(r);
        for (int f = 0; f < static_cast<int>(t.Fields().size()); ++f)
          if (!t.ReadTextAt(f)) ++badTables;
      }
      const std::optional<BlockReport> blocks = t.CheckBlocks();
      if (blocks && !blocks->problems.empty()) ++badTables;
    }
    const bool journalSettled = DeliveryJournal(shop()).Unfinished().empty();
    EXPECT_EQ(lost, 0) << what;
    EXPECT_EQ(doubled, 0) << what;
    EXPECT_EQ(cut, 0) << what;
    EXPECT_EQ(twoSets, 0) << what;
    EXPECT_EQ(stranded, 0) << what;
    EXPECT_EQ(missingRows, 0) << what;
    EXPECT_EQ(doubledRows, 0) << what;
    EXPECT_EQ(badTables, 0) << what;
    EXPECT_TRUE(journalSettled) << what;
    if (lost + doubled + cut + twoSets + stranded + missingRows + doubledRows + badTables > 0 ||
        !journalSettled)
      ++failures_;
    doubledRows_ += doubledRows;
  }

  std::string item_;
  std::vector<std::pair<std::string, std::string>> cards_;
  std::vector<Order> orders_;
  std::string transcript_;
  int failures_ = 0;
  int doubledRows_ = 0;  // card.mdb rows written twice, over all runs
  int repeated_ = 0;     // the same message sent again to a buyer, over all runs
};

TEST_F(DeliveryCrashTest, KilledAtEveryBoundaryAndAtRandomMomentsLosesNothing) {
  // An undisturbed run counts the boundaries of the delivery.
  Prepare(0);
  ASSERT_FALSE(RunChild(0));
  int boundaries = 0;
  std::ifstream(dir_ / "boundaries") >> boundaries;
  ASSERT_GT(boundaries, 20);
  Audit("undisturbed");

  int kills = 0, run = 1;
  // Every boundary once; then every boundary with the restart itself killed
  // at its first boundary before the final restart.
  for (int twice = 0; twice < 2; ++twice) {
    for (int at = 1; at <= boundaries; ++at, ++run) {
      Prepare(run);
      kills += RunChild(at) ? 1 : 0;
      if (twice) kills += RunChild(1) ? 1 : 0;
      Restart();
      Audit("killed at boundary " + std::to_string(at) + (twice ? " and again at the restart" : ""));
      if (failures_ > 3) FAIL() << "stopping after repeated failures";
    }
  }
  // Random moments of a run (fixed seed: the same moments every time).
  std::mt19937 random(20261210);
  for (int i = 0; i < 20; ++i, ++run) {
    Prepare(run);
    kills += RunChild(0, std::uniform_int_distribution<int>(1, 40000)(random)) ? 1 : 0;
    Restart();
    Audit("killed at a random moment, run " + std::to_string(run));
  }
  EXPECT_GE(kills, 100);
  EXPECT_EQ(failures_, 0);
  EXPECT_EQ(doubledRows_, 0);
  std::printf(
      "[ crash  ] %d boundaries per run, %d kills, %d failed audits, %d card.mdb rows written twice, "
      "%d messages repeated\n",
      boundaries, kills, failures_, doubledRows_, repeated_);
}

TEST_F(DeliveryCrashTest, APowerCutAtEveryBoundaryLosesNothing) {
  Prepare(0);
  ASSERT_FALSE(RunChild(0));
  int boundaries = 0;
  std::ifstream(dir_ / "boundaries") >> boundaries;
  ASSERT_GT(boundaries, 20);
  int cuts = 0;
  for (int at = 1; at <= boundaries; ++at) {
    Prepare(1000 + at);
    cuts += RunChild(at, 0, /*powerCut=*/true) ? 1 : 0;
    Restart();
    Audit("power cut at boundary " + std::to_string(at));
    if (failures_ > 3) FAIL() << "stopping after repeated failures";
  }
  EXPECT_EQ(cuts, boundaries);
  EXPECT_EQ(failures_, 0);
  std::printf("[ power  ] %d boundaries, %d failed audits, %d messages repeated\n", boundaries, failures_,
              repeated_);
}

}  // namespace
}  // namespace autodeliver::testing
