// The delivery log: the lines of whole cycles against the marketplace
// imitation (every fate of an order, the IM failure, the expired login),
// that no card password and no whole card number reaches the file, the
// rotation's bound, the line receivers, and the shortening of card numbers.
#include "delivery/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "../store/table_files.h"
#include "delivery/cycle.h"
#include "delivery/login_watch.h"
#include "delivery/monitor.h"
#include "delivery/status_figures.h"
#include "delivery/wording.h"
#include "delivery_fixture.h"
#include "store/sent_time.h"
#include "support/temp_dir.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using DeliveryLogTest = testing::DeliveryFixture;

// A log writing to `path`, with the system clock.
DeliveryLog::Options LogAt(const std::string& path, std::size_t maxFileBytes = DeliveryLog::kDefaultFileBytes,
                           std::size_t filesKept = DeliveryLog::kDefaultFilesKept) {
  DeliveryLog::Options options;
  options.path = path;
  options.maxFileBytes = maxFileBytes;
  options.filesKept = filesKept;
  return options;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(testing::ReadFileBytes(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines without their time stamps, each checked to carry one.
std::vector<std::string> Texts(const std::vector<std::string>& lines) {
  static const std::regex kStamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
  std::vector<std::string> texts;
  for (const std::string& line : lines) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(line, m, kStamp)) << line;
    texts.push_back(m.empty() ? line : m.suffix().str());
  }
  return texts;
}

TEST_F(DeliveryLogTest, OneLinePerEventOfACycleWithEveryFate) {
  const std::string card = "点卡"_gbk, broken = "坏卡"_gbk;
  Monitor(card);
  Monitor(broken);
  Stock(card, {{"CARD-0000-1001", "PW-SECRET-1"},
               {"CARD-0000-1002", "PW-SECRET-2"},
               {"CARD-0000-1003", "PW-SECRET-3"}});
  Stock(broken, {{sim_.Url("/card/"), "PW-SECRET-9"}});
  // Page order is newest first: the list below is read bottom up.
  const std::string failed = PlaceOrder("点卡", 1, "买家己");
  const std::string delivered = PlaceOrder("点卡", 2, "买家甲");
  const std::string recorded = PlaceOrder("点卡", 1, "买家乙");
  ASSERT_TRUE(
      AppendSentCard(shop(), {card, recorded, "买家乙"_gbk, 1, "OLD-CARD-NUMBER", "PW-SECRET-0", "", "t"}));
  const std::string unmonitored = PlaceOrder("月卡", 1, "买家丙");
  const std::string tooMany = PlaceOrder("点卡", 9, "买家丁");
  const std::string online = PlaceOrder("坏卡", 1, "买家戊");
  sender_.onSend = [this] { sender_.handedOver = sender_.sent.size() < 2; };

  const std::string path = (dir_ / "data" / "logs" / "delivery.log").string();
  {
    DeliveryLog log(LogAt(path));
    ASSERT_TRUE(log.ok());
    LoginWatch watch;
    RunDeliveryCycle(shop(), sender_, stop_, &log, &watch);
  }
  auto about = [](const std::string& order, const std::string& buyer) {
    return "订单 " + order + "（买家 " + buyer + "）：";
  };
  const std::vector<std::string> expected = {
      "[信息] 开始一轮发货：扫描等待发货的订单",
      "[信息] 订单页列出 6 笔等待发货的订单",
      "[信息] " + about(online, "买家戊") + "宝贝“坏卡” × 1",
      "[警告] " + about(online, "买家戊") + "在线卡密取卡失败，卡密留在库存中，等下一轮",
      "[信息] " + about(tooMany, "买家丁") + "宝贝“点卡” × 9",
      "[警告] " + about(tooMany, "买家丁") + "库存不足（库存 3 张，需要 9 张），等待补货",
      "[信息] " + about(unmonitored, "买家丙") + "宝贝“月卡” × 1",
      "[信息] " + about(unmonitored, "买家丙") + "宝贝“月卡”不在监控列表中，跳过",
      "[信息] " + about(recorded, "买家乙") + "宝贝“点卡” × 1",
      "[信息] " + about(recorded, "买家乙") + "已发过卡密，跳过",
      "[信息] " + about(delivered, "买家甲") + "宝贝“点卡” × 2",
      "[信息] " + about(delivered, "买家甲") + "从库存取出 2 张卡密并记入已发卡密（卡号 CARD…01、CARD…02）",
      "[信息] " + about(delivered, "买家甲") + "宝贝“点卡”库存还剩 1 张",
      "[信息] " + about(delivered, "买家甲") + "卡密消息已交给旺旺发给买家",
      "[信息] " + about(delivered, "买家甲") + "已向淘宝提交发货（无需物流）",
      "[信息] " + about(failed, "买家己") + "宝贝“点卡” × 1",
      "[信息] " + about(failed, "买家己") + "从库存取出 1 张卡密并记入已发卡密（卡号 CARD…03）",
      "[信息] " + about(failed, "买家己") + "宝贝“点卡”库存还剩 0 张",
      "[警告] " + about(failed, "买家己") +
          "卡密消息没能交给旺旺，买家没有收到卡密，订单记为未送达（卡密已记入已发卡密，待补发）；本轮发货到此"
          "为止",
      "[警告] 本轮结束：列出 6 笔，发货 2 笔，提交发货 1 笔，等待 2 笔，跳过 2 "
      "笔；旺旺没有收下消息，本轮提前结束",
  };
  EXPECT_EQ(Texts(FileLines(path)), expected);

  // No card password, and no whole card number, in any line.
  const std::string content = testing::ReadFileBytes(path);
  for (const std::string secret : {"PW-SECRET", "CARD-0000-100", "OLD-CARD-NUMBER", "/card/"}) {
    EXPECT_EQ(content.find(secret), std::string::npos) << secret;
  }
}

TEST_F(DeliveryLogTest, ExpiredLoginIsLoggedOnceAfterTwoCycles) {
  const std::string path = (dir_ / "delivery.log").string();
  DeliveryLog log(LogAt(path));
  LoginWatch watch;
  sim_.Post("/_sim/expire_sessions");
  for (int i = 0; i < 3; ++i) RunDeliveryCycle(shop(), sender_, stop_, &log, &watch);
  const std::vector<std::string> texts = Texts(FileLines(path));
  const std::string signInPage = "[警告] 订单页打开的是登录页面，淘宝登录可能已失效";
  const std::string expired =
      "[警告] 淘宝登录似乎已失效（连续两轮看到登录页面或读不到卖家旺旺名），请重新登录";
  EXPECT_EQ(std::count(texts.begin(), texts.end(), signInPage), 3);
  ASSERT_EQ(std::count(texts.begin(), texts.end(), expired), 1);
  // Told in the second cycle, before its end, which says so too.
  const auto at = std::find(texts.begin(), texts.end(), expired) - texts.begin();
  ASSERT_EQ(at, 5);
  EXPECT_EQ(texts[6],
            "[警告] 本轮结束：列出 0 笔，发货 0 笔，提交发货 0 笔，等待 0 笔，跳过 0 笔；淘宝登录似乎已失效");
  EXPECT_EQ(texts[2], "[信息] 本轮结束：列出 0 笔，发货 0 笔，提交发货 0 笔，等待 0 笔，跳过 0 笔");
}

// Counts the cycles it saw begin and end, and the orders passed by.
class CycleCounter : public DeliveryEvents {
 public:
  void CycleStarted() override { ++started; }
  void OrderSkipped(const PendingOrder&, SkipReason) override { ++skipped; }
  void CycleEnded(const CycleResult&) override { ++ended; }
  int started = 0;
  int skipped = 0;
  int ended = 0;
};

TEST_F(DeliveryLogTest, TheProgramsMonitorLogsIntoTheDataFolderBeforeItsObservers) {
  CycleCounter extra, later;
  std::vector<std::string> order;
  {
    DeliveryMonitor monitor(shop(), &extra);
    ASSERT_TRUE(monitor.log().ok());
    EXPECT_EQ(monitor.log().path(), (dir_ / "data" / "logs" / "delivery.log").string());
    monitor.Add(&later);
    // An order of no monitored item: the first cycle tells of it, the
    // second has nothing new (summed up when the log closes). The log has
    // written its first line, at that order, before the extra observer
    // hears of the order.
    PlaceOrder("月卡", 1, "买家丙");
    monitor.log().AddLineSink([&](const DeliveryLogLine&) {
      if (order.empty()) order.push_back("log " + std::to_string(extra.skipped));
    });
    RunDeliveryCycle(shop(), sender_, stop_, &monitor);
    monitor.Remove(&later);
    RunDeliveryCycle(shop(), sender_, stop_, &monitor);
  }
  EXPECT_EQ(order, std::vector<std::string>{"log 0"});
  EXPECT_EQ(extra.started, 2);
  EXPECT_EQ(extra.ended, 2);
  EXPECT_EQ(later.started, 1);  // removed after the first cycle
  EXPECT_EQ(Texts(FileLines((dir_ / "data" / "logs" / "delivery.log").string())).size(), 6u);
}

TEST_F(DeliveryLogTest, StatusFiguresFollowTheCycles) {
  const std::string card = "点卡"_gbk, coin = "Q币"_gbk;
  Monitor(card);
  Monitor(coin);
  Stock(card, {{"C1", "1"}});
  // One order of today and one of another day are in the table already.
  const std::string yesterday = "2001年1月1日10时"_gbk;
  ASSERT_TRUE(AppendSentCard(shop(), {card, "700", "b"_gbk, 1, "OLD", "x", "", SentAtNow()}));
  ASSERT_TRUE(AppendSentCard(shop(), {card, "700", "b"_gbk, 1, "OLD2", "x", "", SentAtNow()}));
  ASSERT_TRUE(AppendSentCard(shop(), {card, "600", "b"_gbk, 1, "OLD3", "x", "", yesterday}));
  EXPECT_EQ(CountOrdersDeliveredToday(shop()), 1);

  DeliveryStatus status(CountOrdersDeliveredToday(shop()));
  EXPECT_EQ(StatusLineText(status.Figures(), -1),
            "尚未扫描 | 今日发货 1 笔 | 等待补货 0 笔 | 自动发货未开启");
  const std::string waitingA = PlaceOrder("Q币", 2, "甲");
  const std::string waitingB = PlaceOrder("点卡", 3, "乙");
  const std::string waitingC = PlaceOrder("Q币", 1, "丙");
  PlaceOrder("点卡", 1, "丁");  // takes C1
  LoginWatch watch;
  RunDeliveryCycle(shop(), sender_, stop_, &status, &watch);
  DeliveryStatusFigures f = status.Figures();
  ASSERT_TRUE(f.lastScanAt);
  EXPECT_EQ(f.ordersListed, 4);
  EXPECT_EQ(f.deliveredToday, 2);
  EXPECT_EQ(f.OrdersWaitingForStock(), 3);
  EXPECT_EQ(WaitingForStockText(f),
            "Q币：2 笔（订单 " + waitingC + "、" + waitingA + "）\n点卡：1 笔（订单 " + waitingB + "）");
  const std::string line = StatusLineText(f, 25);
  EXPECT_NE(line.find("，列出 4 笔 | 今日发货 2 笔 | 等待补货 3 笔 | 下次扫描 25 秒后"), std::string::npos)
      << line;

  // Restocked, the waiting orders go; an expired login shows in front.
  Stock(coin, {{"Q1", "1"}, {"Q2", "2"}, {"Q3", "3"}});
  RunDeliveryCycle(shop(), sender_, stop_, &status, &watch);
  EXPECT_EQ(status.Figures().OrdersWaitingForStock(), 1);
  sim_.Post("/_sim/expire_sessions");
  RunDeliveryCycle(shop(), sender_, stop_, &status, &watch);
  RunDeliveryCycle(shop(), sender_, stop_, &status, &watch);
  f = status.Figures();
  EXPECT_TRUE(f.loginLooksExpired);
  EXPECT_EQ(f.deliveredToday, 4);
  EXPECT_EQ(StatusLineText(f, -1).rfind("淘宝登录似乎已失效，请重新登录 | 上次扫描 ", 0), 0u);
  EXPECT_NE(StatusLineText(f, -1).find("，订单页是登录页面"), std::string::npos);
}

// A page whose orders cannot be paired delivers nothing; the status line
// says why, with the five counts, until a page is read normally again.
TEST(DeliveryStatusLineTest, UnpairedPageShowsItsFiveCounts) {
  DeliveryStatus status;
  OrderScan unpaired;
  unpaired.outcome = ScanOutcome::kUnpaired;
  unpaired.counts = {3, 2, 3, 3, 1};
  CycleResult result;
  result.scanOutcome = ScanOutcome::kUnpaired;
  status.CycleStarted();
  status.OrdersScanned(unpaired);
  status.CycleEnded(result);
  const DeliveryStatusFigures f = status.Figures();
  EXPECT_EQ(f.cyclesEnded, 1);
  const std::string line = StatusLineText(f, 25);
  EXPECT_NE(line.find("，订单页面无法解析（宝贝标题 3，买家旺旺 2，订单编号 3，购买数量 3，发货链接 1） | "
                      "今日发货 0 笔 | "
                      "等待补货 0 笔 | 下次扫描 25 秒后"),
            std::string::npos)
      << line;
  // While a cycle runs the line says so in place of the countdown.
  EXPECT_EQ(StatusLineText(f, 25, true).substr(StatusLineText(f, 25, true).rfind(" | ")), " | 正在扫描");

  OrderScan listed;
  listed.outcome = ScanOutcome::kListed;
  listed.counts = {0, 0, 0, 0, 0};
  status.CycleStarted();
  status.OrdersScanned(listed);
  EXPECT_EQ(StatusLineText(status.Figures(), -1).find("无法解析"), std::string::npos);
}

TEST(DeliveryLogFileTest, RotationKeepsTheNewestLinesWithinTheBound) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/logs/delivery.log";
  constexpr std::size_t kBytes = 4096;
  constexpr int kLines = 600;
  {
    DeliveryLog log(LogAt(path, kBytes, 2));
    ASSERT_TRUE(log.ok());
    for (int i = 0; i < kLines; ++i) log.Write(LineLevel::kInfo, "第 " + std::to_string(i) + " 行");
    EXPECT_EQ(log.writeFailures(), 0);
  }
  const std::string rotated1 = dir.path() + "/logs/delivery.1.log";
  const std::string rotated2 = dir.path() + "/logs/delivery.2.log";
  ASSERT_TRUE(std::filesystem::exists(rotated1));
  ASSERT_TRUE(std::filesystem::exists(rotated2));
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/logs/delivery.3.log"));
  // Oldest file first, the lines run on without a gap or a torn line up to
  // the last one written.
  std::vector<std::string> texts;
  for (const std::string& file : {rotated2, rotated1, path}) {
    EXPECT_LE(std::filesystem::file_size(file), kBytes) << file;
    for (const std::string& t : Texts(FileLines(file))) texts.push_back(t);
  }
  ASSERT_FALSE(texts.empty());
  ASSERT_LT(texts.size(), static_cast<std::size_t>(kLines));  // the oldest went
  const int first = kLines - static_cast<int>(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(texts[i], "[信息] 第 " + std::to_string(first + static_cast<int>(i)) + " 行");
  }
}

TEST(DeliveryLogFileTest, ReceiversGetTheLinesAsWrittenEvenWithoutAFile) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/logs/delivery.log";
  DeliveryLog log(LogAt(path));
  std::vector<DeliveryLogLine> got;
  const int id = log.AddLineSink([&](const DeliveryLogLine& line) { got.push_back(line); });
  PendingOrder order{"1001", "点卡"_gbk, 1, "买家\n甲"_gbk, "9"};
  log.OrderSeen(order);
  log.OrderWaiting(order, WaitReason::kStockShort, 0);
  log.Write(LineLevel::kInfo, "程序启动\n第二行");
  log.RemoveLineSink(id);
  log.LoginStateChanged(true);

  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].orderNumber, "1001");
  // A line about an order carries its buyer and item, and the reason when
  // the order was held back, for the log page's columns and filter.
  EXPECT_EQ(got[1].buyerNick, "买家\n甲"_gbk);
  EXPECT_EQ(got[1].itemTitle, "点卡"_gbk);
  EXPECT_EQ(got[0].reason, "");
  EXPECT_EQ(got[1].reason, ReasonText(WaitReason::kStockShort));
  EXPECT_TRUE(got[2].buyerNick.empty() && got[2].itemTitle.empty() && got[2].reason.empty());
  EXPECT_EQ(got[0].level, LineLevel::kInfo);
  EXPECT_EQ(got[1].level, LineLevel::kWarning);
  EXPECT_EQ(got[0].text, "订单 1001（买家 买家\\x0A甲）：宝贝“点卡” × 1");  // one event, one line
  EXPECT_EQ(got[2].text, "程序启动\\x0A第二行");
  EXPECT_TRUE(got[2].orderNumber.empty());
  const std::vector<std::string> texts = Texts(FileLines(path));
  ASSERT_EQ(texts.size(), 4u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(texts[i], (got[i].level == LineLevel::kWarning ? "[警告] " : "[信息] ") + got[i].text);
  }

  // A log whose folder cannot be made still hands out its lines.
  DeliveryLog nowhere(LogAt(dir.path() + "/missing/logs/delivery.log"));
  EXPECT_FALSE(nowhere.ok());
  int count = 0;
  nowhere.AddLineSink([&](const DeliveryLogLine&) { ++count; });
  nowhere.LoginStateChanged(true);
  EXPECT_EQ(count, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/missing"));
}

TEST(DeliveryWordingTest, CardNumbersAreShortenedWithoutSplittingACharacter) {
  const struct {
    std::string number;  // GBK
    std::string shown;   // UTF-8
  } cases[] = {
      {"CARD-0000-1001", "CARD…01"},
      {"1234567", "1234…67"},
      {"123456", "1…6"},  // six or fewer: only the ends
      {"ABC", "A…C"},
      {"AB", "…"},
      {"", "…"},
      {"卡号一二三四五六"_gbk, "卡号一二…五六"},
      {"卡A1号2B"_gbk, "卡…B"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortCardNumber(c.number), c.shown) << c.number;
}

TEST(DeliveryWordingTest, ScanOutcomesSayWhatThePageWas) {
  OrderScan unpaired;
  unpaired.outcome = ScanOutcome::kUnpaired;
  unpaired.counts = {3, 2, 3, 3, 1};
  EXPECT_EQ(
      WordOrdersScanned(unpaired),
      (WordedLine{
          LineLevel::kWarning,
          "订单页面无法解析：订单信息无法一一配对（宝贝标题 3 处，买家旺旺 2 处，订单编号 3 处，购买数量 "
          "3 处，发货链接 1 处），本轮不发货"}));
  // A page listing more orders than one scan holds: the orders read and
  // those left are both told.
  OrderScan partly;
  partly.outcome = ScanOutcome::kListed;
  partly.orders.resize(2);
  partly.ordersNotRead = 5;
  EXPECT_EQ(WordOrdersScanned(partly),
            (WordedLine{LineLevel::kWarning, "订单页列出的订单过多：本轮读取前 2 笔，其余 5 笔留待下一轮"}));
  OrderScan none;
  EXPECT_EQ(WordOrdersScanned(none).text, "订单页没有应答（网络不通或超时），本轮不发货");
  EXPECT_EQ(WordOrdersScanned(none).level, LineLevel::kWarning);
}

}  // namespace
}  // namespace autodeliver

namespace autodeliver {
namespace {

// A log with a clock the test moves; the orders of a listing.
class QuietLogTest : public ::testing::Test {
 protected:
  QuietLogTest()
      : log_({dir_.path() + "/logs/delivery.log", DeliveryLog::kDefaultFileBytes,
              DeliveryLog::kDefaultFilesKept, [this] { return now_; }}) {
    log_.AddLineSink([this](const DeliveryLogLine& line) { lines_.push_back(line.text); });
  }

  // One cycle over `listed`, each passed by for its reason; `seconds` later.
  void IdleCycle(const std::vector<std::pair<PendingOrder, SkipReason>>& listed, int seconds = 5) {
    log_.CycleStarted();
    OrderScan scan;
    scan.outcome = ScanOutcome::kListed;
    for (const auto& [order, reason] : listed) scan.orders.push_back(order);
    log_.OrdersScanned(scan);
    CycleResult result;
    result.scanOutcome = ScanOutcome::kListed;
    result.ordersListed = static_cast<int>(listed.size());
    for (const auto& [order, reason] : listed) {
      log_.OrderSeen(order);
      log_.OrderSkipped(order, reason);
      ++result.ordersSkipped;
    }
    log_.CycleEnded(result);
    now_ += std::chrono::seconds(seconds);
  }

  int Count(const std::string& part) const {
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                          [&](const std::string& l) { return l.find(part) != l.npos; }));
  }

  testing::TempDir dir_;
  std::chrono::system_clock::time_point now_ = std::chrono::system_clock::from_time_t(1767590000);
  DeliveryLog log_;
  std::vector<std::string> lines_;
};

TEST_F(QuietLogTest, AnHourOfIdleCyclesWritesABoundedNumberOfLines) {
  const PendingOrder a{"1001", "点卡10元 "_gbk, 1, "买家甲"_gbk, "9"};  // a title with a trailing space
  const PendingOrder b{"1002", "月卡"_gbk, 1, "买家乙"_gbk, "9"};
  const PendingOrder c{"1003", "点卡10元"_gbk, 1, "买家丙"_gbk, "9"};
  std::vector<std::pair<PendingOrder, SkipReason>> listed = {
      {a, SkipReason::kNotMonitored}, {b, SkipReason::kNotMonitored}, {c, SkipReason::kAlreadyDelivered}};
  // Two hours of a cycle every 5 seconds.
  for (int i = 0; i < 2 * 720; ++i) IdleCycle(listed);
  // The first cycle tells everything once (start, scan, each order seen and
  // passed by, end); the rest are summed up once an hour.
  EXPECT_EQ(Count("开始一轮发货"), 1);
  EXPECT_EQ(Count("不在监控列表中，跳过"), 2);
  EXPECT_EQ(Count("已发过卡密，跳过"), 1);
  EXPECT_EQ(Count("起空闲"), 1);
  EXPECT_LE(lines_.size(), 14u);
  EXPECT_NE(lines_.back().find("起空闲 721 轮：没有要发货的订单，最近一轮列出 3 笔（2 笔未匹配监控宝贝）"),
            std::string::npos)
      << lines_.back();

  // A reason that changes is told again, after the idle cycles so far.
  const std::size_t before = lines_.size();
  listed[1].second = SkipReason::kAlreadyDelivered;
  IdleCycle(listed);
  ASSERT_GE(lines_.size(), before + 5);
  EXPECT_NE(lines_[before].find("起空闲 718 轮"), std::string::npos) << lines_[before];
  EXPECT_EQ(Count("订单 1002（买家 买家乙）：已发过卡密，跳过"), 1);
  EXPECT_EQ(Count("订单 1001"), 2);  // seen and passed by, once
  // An order that leaves the list and comes back is told again.
  IdleCycle({listed[0], listed[1]});
  IdleCycle(listed);
  EXPECT_EQ(Count("订单 1003（买家 买家丙）：已发过卡密，跳过"), 2);
}

TEST(UnmatchedOrdersTest, StatusLineCountsThemAndTheHoverShowsTrailingSpaces) {
  DeliveryStatus status;
  status.CycleStarted();
  OrderScan scan;
  scan.outcome = ScanOutcome::kListed;
  const PendingOrder a{"1001", "点卡10元 "_gbk, 1, "甲"_gbk, "9"};
  const PendingOrder b{"1002", "月卡"_gbk + "\xA1\xA1", 1, "乙"_gbk, "9"};  // ends in a full-width space
  const PendingOrder c{"1003", "点卡10元 "_gbk, 1, "丙"_gbk, "9"};
  const PendingOrder d{"1004", "Q币"_gbk, 1, "丁"_gbk, "9"};
  scan.orders = {a, b, c, d};
  status.OrdersScanned(scan);
  for (const PendingOrder* o : {&a, &b, &c}) status.OrderSkipped(*o, SkipReason::kNotMonitored);
  status.OrderSkipped(d, SkipReason::kAlreadyDelivered);
  CycleResult result;
  result.scanOutcome = ScanOutcome::kListed;
  result.ordersListed = 4;
  status.CycleEnded(result);
  const DeliveryStatusFigures f = status.Figures();
  EXPECT_NE(StatusLineText(f, -1).find("列出 4 笔，3 笔未匹配"), std::string::npos) << StatusLineText(f, -1);
  EXPECT_EQ(UnmatchedOrdersText(f),
            "“点卡10元 ”（末尾有 1 个空格）：订单 1001、1003\n“月卡　”（末尾有 1 个空格）：订单 1002");
}

}  // namespace
}  // namespace autodeliver
