// The delivery switch, ticks and the one-cycle-at-a-time rule, with a cycle
// the test holds open and a fake window.
#include "delivery/controller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <vector>

#include "store/stock_table.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr auto kBound = std::chrono::seconds(10);

class FakeWindow : public DeliveryWindow {
 public:
  void RefreshAfterDelivery() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++refreshes;
  }
  void SetTimerInterval(int ms) override {
    std::lock_guard<std::mutex> lock(mutex);
    intervals.push_back(ms);
  }
  std::vector<int> Intervals() {
    std::lock_guard<std::mutex> lock(mutex);
    return intervals;
  }
  int Refreshes() {
    std::lock_guard<std::mutex> lock(mutex);
    return refreshes;
  }

  std::mutex mutex;
  std::vector<int> intervals;
  int refreshes = 0;
};

// A cycle that reports its start and runs until the test lets it end.
class HeldCycle {
 public:
  DeliveryController::CycleRunner Runner() {
    return [this](const std::atomic<bool>& stop) {
      ++runs;
      started.set_value();
      release.get_future().wait();
      CycleResult r;
      r.ordersDelivered = delivered;
      r.stopped = stop.load();
      return r;
    };
  }
  bool WaitStarted() { return started.get_future().wait_for(kBound) == std::future_status::ready; }

  std::atomic<int> runs{0};
  int delivered = 0;
  std::promise<void> started;
  std::promise<void> release;
};

// Each test's controller works on a shop folder of its own (it compacts the
// stock at the end).
class DeliveryControllerTest : public testing::ShopTest {};

TEST_F(DeliveryControllerTest, SettingSetsIntervalAndStatus) {
  struct Case {
    bool ticked;
    std::string typed;
    int interval;
    std::string status;
  } cases[] = {
      {true, "30", 30000, "自动发货扫描时间：30 秒"_gbk},
      {true, "", 0, "自动发货扫描时间： 秒"_gbk},
      {true, "10秒"_gbk, 10000, "自动发货扫描时间：10秒 秒"_gbk},
      {true, "３"_gbk, 3000, "自动发货扫描时间：３ 秒"_gbk},
      {true, "-5", 0, "自动发货扫描时间：-5 秒"_gbk},
      {true, "99999999999", 2147483647, "自动发货扫描时间：99999999999 秒"_gbk},
      {false, "30", 0, "未开启自动发货功能"_gbk},
  };
  for (const Case& c : cases) {
    FakeWindow window;
    DeliveryController controller(shop(), window, [](const std::atomic<bool>&) { return CycleResult{}; });
    EXPECT_EQ(controller.ApplySetting(c.ticked, c.typed), c.status);
    EXPECT_EQ(window.Intervals(), std::vector<int>{c.interval}) << c.typed;
    EXPECT_EQ(controller.TimerInterval(), c.interval);
  }
}

TEST_F(DeliveryControllerTest, TickRunsOneCycleAndRestartsTheTimer) {
  FakeWindow window;
  HeldCycle cycle;
  cycle.delivered = 2;
  DeliveryController controller(shop(), window, cycle.Runner());
  controller.ApplySetting(true, "30");
  controller.OnTick();
  ASSERT_TRUE(cycle.WaitStarted());
  EXPECT_TRUE(controller.IsCycleRunning());
  // Ticks while the cycle runs are ignored: never two cycles at once.
  controller.OnTick();
  controller.OnTick();
  cycle.release.set_value();
  controller.WaitForCycle();
  EXPECT_FALSE(controller.IsCycleRunning());
  EXPECT_EQ(cycle.runs.load(), 1);
  EXPECT_EQ(window.Intervals(), (std::vector<int>{30000, 0, 30000}));
  EXPECT_EQ(window.Refreshes(), 1);
  EXPECT_EQ(controller.LastCycleResult().ordersDelivered, 2);
}

TEST_F(DeliveryControllerTest, CycleThatDeliversNothingLeavesTheListsAlone) {
  FakeWindow window;
  DeliveryController controller(shop(), window, [](const std::atomic<bool>&) { return CycleResult{}; });
  controller.ApplySetting(true, "5");
  controller.OnTick();
  controller.WaitForCycle();
  controller.OnTick();  // the next tick after the end starts the next cycle
  controller.WaitForCycle();
  EXPECT_EQ(window.Refreshes(), 0);
  EXPECT_EQ(window.Intervals(), (std::vector<int>{5000, 0, 5000, 0, 5000}));
}

TEST_F(DeliveryControllerTest, SettingDuringACycleWinsOverTheSavedInterval) {
  struct Case {
    bool ticked;
    std::string typed;
    int after;
  } cases[] = {{true, "5", 5000}, {false, "", 0}};
  for (const Case& c : cases) {
    FakeWindow window;
    HeldCycle cycle;
    DeliveryController controller(shop(), window, cycle.Runner());
    controller.ApplySetting(true, "30");
    controller.OnTick();
    ASSERT_TRUE(cycle.WaitStarted());
    controller.ApplySetting(c.ticked, c.typed);
    cycle.release.set_value();
    controller.WaitForCycle();
    EXPECT_EQ(window.Intervals().back(), c.after);
    EXPECT_EQ(controller.TimerInterval(), c.after);
  }
}

TEST_F(DeliveryControllerTest, StopLetsTheCycleEndWithoutRestartingTheTimer) {
  FakeWindow window;
  HeldCycle cycle;
  cycle.delivered = 1;
  DeliveryController controller(shop(), window, cycle.Runner());
  controller.ApplySetting(true, "30");
  controller.OnTick();
  ASSERT_TRUE(cycle.WaitStarted());
  controller.RequestStop();
  cycle.release.set_value();
  controller.WaitForCycle();
  EXPECT_TRUE(controller.LastCycleResult().stopped);  // the cycle saw the request
  EXPECT_EQ(window.Intervals(), (std::vector<int>{30000, 0}));
  controller.OnTick();  // no new cycle after a stop
  controller.WaitForCycle();
  EXPECT_EQ(cycle.runs.load(), 1);
}

// A resend never runs beside a cycle: it is refused while a cycle runs, a
// tick during a resend starts no cycle, and the timer keeps its interval.
TEST_F(DeliveryControllerTest, ResendAndCycleNeverRunAtOnce) {
  FakeWindow window;
  HeldCycle cycle;
  std::promise<void> resendStarted, resendRelease;
  std::vector<std::string> resent;
  DeliveryController controller(
      shop(), window, cycle.Runner(), [&](const ResendRequest& request, const std::atomic<bool>&) {
        resent.insert(resent.end(), request.orderNumbers.begin(), request.orderNumbers.end());
        resendStarted.set_value();
        resendRelease.get_future().wait();
        ResendBatch batch;
        for (const std::string& order : request.orderNumbers) {
          ResendResult& r = batch.results.emplace_back();
          r.outcome = ResendOutcome::kResent;
          r.order.orderNumber = order;
        }
        return batch;
      });
  auto orders = [](std::vector<std::string> numbers) { return ResendRequest{std::move(numbers), false}; };
  controller.ApplySetting(true, "30");
  controller.OnTick();
  ASSERT_TRUE(cycle.WaitStarted());
  EXPECT_EQ(controller.StartResend(orders({"1001"}), {}), DeliveryController::ResendStart::kCycleRunning);
  cycle.release.set_value();
  controller.WaitForCycle();

  std::promise<ResendBatch> done;
  ASSERT_EQ(
      controller.StartResend(orders({"1001", "1003"}), [&](const ResendBatch& b) { done.set_value(b); }),
      DeliveryController::ResendStart::kStarted);
  ASSERT_EQ(resendStarted.get_future().wait_for(kBound), std::future_status::ready);
  EXPECT_TRUE(controller.IsResendRunning());
  EXPECT_EQ(controller.StartResend(orders({"1002"}), {}), DeliveryController::ResendStart::kResendRunning);
  controller.OnTick();  // ignored
  resendRelease.set_value();
  std::future<ResendBatch> result = done.get_future();
  ASSERT_EQ(result.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(result.get().Resent(), 2);
  controller.WaitForCycle();
  EXPECT_FALSE(controller.IsResendRunning());
  EXPECT_EQ(cycle.runs.load(), 1);
  EXPECT_EQ(resent, (std::vector<std::string>{"1001", "1003"}));
  // The timer was never touched by the resend.
  EXPECT_EQ(window.Intervals(), (std::vector<int>{30000, 0, 30000}));

  // Closing: no resend any more; without a resend runner, none at all.
  controller.RequestStop();
  EXPECT_EQ(controller.StartResend(orders({"1001"}), {}), DeliveryController::ResendStart::kStopping);
  DeliveryController plain(shop(), window, [](const std::atomic<bool>&) { return CycleResult{}; });
  EXPECT_EQ(plain.StartResend(orders({"1001"}), {}), DeliveryController::ResendStart::kUnavailable);
}

// The cards the cycles take stay marked in the stock file; the controller
// removes them after a cycle once they are an eighth of the table, and
// whatever is left when it goes.
TEST_F(DeliveryControllerTest, MarkedStockIsCompactedAfterACycleAndAtClose) {
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(AppendStockCard(shop(), {"A", "c" + std::to_string(i), "p", 0}));
  auto records = [this] {
    RecordTable t;
    return t.Open(shop().StockTablePath()) ? t.RecordCount() : -1;
  };
  {
    FakeWindow window;
    int takes[] = {3, 1};  // 3 of 16 marked: compacted; then 1 of 13: kept
    int cycle = 0;
    DeliveryController controller(shop(), window, [&](const std::atomic<bool>&) {
      for (int k = 0; k < takes[cycle]; ++k) EXPECT_TRUE(TakeStockCard(shop(), "A"));
      ++cycle;
      return CycleResult{};
    });
    controller.ApplySetting(true, "5");
    controller.OnTick();
    controller.WaitForCycle();
    EXPECT_EQ(records(), 13);
    // Nothing was delivered, yet the lists follow the new record numbers.
    EXPECT_EQ(window.Refreshes(), 1);
    controller.OnTick();
    controller.WaitForCycle();
    EXPECT_EQ(records(), 13);
    EXPECT_EQ(LoadStockCardsOf(shop(), "A").front().cardNumber, "c4");
  }
  EXPECT_EQ(records(), 12);
  EXPECT_EQ(LoadStockCardsOf(shop(), "A").front().recordNumber, 1);
}

}  // namespace
}  // namespace autodeliver
