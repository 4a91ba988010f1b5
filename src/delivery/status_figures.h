// The figures of the window's status line, gathered from the delivery
// events: when the orders were last scanned and how many were listed, how
// many orders were delivered today, which orders wait for stock (per item,
// for the hover text), whether the last cycle ended at a message the IM
// client did not take, and whether the login looks expired. The window reads
// a copy after each cycle (or on its own timer) and words it with
// StatusLineText / WaitingForStockText.
//
// "Delivered today" counts the orders whose cards were taken and recorded
// since local midnight: at start from the sent-cards table
// (CountOrdersDeliveredToday), then one per delivery; it starts again at 0
// when the day changes.
//
// Thread safety: the events come from the delivery thread; Figures may be
// called from any thread.
#pragma once

#include <chrono>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "delivery/cycle.h"
#include "delivery/events.h"

namespace autodeliver {

struct DeliveryStatusFigures {
  std::optional<std::chrono::system_clock::time_point> lastScanAt;  // start of the last cycle
  ScanOutcome lastScanOutcome = ScanOutcome::kNoAnswer;
  OrderPatternCounts lastScanCounts;  // the five pattern counts of the last order page
  int ordersListed = 0;               // by the last scan
  int deliveredToday = 0;
  // Item title (GBK) -> the numbers of its orders waiting for stock, as the
  // last cycle that went through the whole list saw them.
  std::map<std::string, std::vector<std::string>> waitingForStock;
  bool endedAtImFailure = false;  // the last cycle
  bool diskFull = false;          // the last cycle: an order waited on a full disk
  bool loginLooksExpired = false;
  // The phone alert channels that keep failing, their captions joined by
  // "、" (UTF-8); empty while every channel works.
  std::string alertChannelsFailing;
  int cyclesEnded = 0;  // since the start; tells the window that a cycle ended

  int OrdersWaitingForStock() const;
};

// The distinct orders of the sent-cards table whose delivery time lies on
// the local day of `now`; 0 when the table cannot be read.
int CountOrdersDeliveredToday(std::time_t now = std::time(nullptr));

class DeliveryStatus : public DeliveryEvents {
 public:
  // `deliveredToday`: the count at start (CountOrdersDeliveredToday()).
  explicit DeliveryStatus(int deliveredToday = 0);

  DeliveryStatusFigures Figures() const;
  // The alert channels that keep failing (alerts/alert_sender.h); empty: none.
  void SetAlertChannelsFailing(const std::string& captions);

  void CycleStarted() override;
  void OrdersScanned(const OrderScan& scan) override;
  void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) override;
  void CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) override;
  void LoginStateChanged(bool looksExpired) override;
  void CycleEnded(const CycleResult& result) override;

 private:
  mutable Mutex mutex_;
  DeliveryStatusFigures figures_ AD_GUARDED_BY(mutex_);
  int day_ AD_GUARDED_BY(mutex_) = 0;                           // the day deliveredToday counts
  std::map<std::string, std::vector<std::string>> waitingNow_;  // this cycle's; delivery thread only
};

// The status line (UTF-8), e.g.
//   "上次扫描 14:03:07，列出 3 笔 | 今日发货 12 笔 | 等待补货 2 笔 | 下次扫描 25 秒后"
// with "淘宝登录似乎已失效，请重新登录" or "旺旺没有收下消息" in front when so, and
// "手机提醒发送失败：邮件" while an alert channel keeps failing.
// An order page that could not be paired reads
//   "上次扫描 14:03:07，订单页面无法解析（宝贝标题 3，买家旺旺 3，订单编号 2，购买数量 3，发货链接 3）"
// so the seller sees why nothing is delivered.
// `secondsToNextScan` < 0: no scan is planned (the delivery is off);
// `cycleRunning`: a cycle runs now ("正在扫描" in place of the next scan).
std::string StatusLineText(const DeliveryStatusFigures& figures, int secondsToNextScan,
                           bool cycleRunning = false);

// The hover text of the waiting orders (UTF-8), one line per item:
//   "点卡10元：2 笔（订单 1001、1002）"; empty when nothing waits.
std::string WaitingForStockText(const DeliveryStatusFigures& figures);

}  // namespace autodeliver
