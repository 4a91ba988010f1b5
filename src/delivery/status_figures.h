// The figures of the window's status line, gathered from the delivery
// events: when the orders were last scanned and how many were listed, how
// many orders were delivered today, which orders wait for stock (per item,
// for the hover text), whether the last cycle ended at a message the IM
// client did not take, and whether the login looks expired. The window reads
// a copy after each cycle (or on its own timer) and words it with
// StatusLineText / WaitingForStockText.
//
// "Delivered today" counts the orders whose cards reached their buyer since
// local midnight: at start from the sent-cards table less the orders marked
// as not delivered (CountOrdersDeliveredToday), then one per message handed
// over, and one per undelivered order that a resend brought through; it
// starts again at 0 when the day changes. The undelivered orders are
// counted apart.
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

class ShopContext;

struct DeliveryStatusFigures {
  std::optional<std::chrono::system_clock::time_point> lastScanAt;  // start of the last cycle
  ScanOutcome lastScanOutcome = ScanOutcome::kNoAnswer;
  OrderPatternCounts lastScanCounts;  // the five pattern counts of the last order page
  int ordersListed = 0;               // by the last scan
  int deliveredToday = 0;
  // Item title (GBK) -> the numbers of its orders waiting for stock, as the
  // last cycle that went through the whole list saw them.
  std::map<std::string, std::vector<std::string>> waitingForStock;
  // Item title (GBK) -> the numbers of its listed orders that match no
  // monitored item, as the last cycle that went through the whole list saw
  // them. A title that differs from a monitored one by a trailing space
  // lands here.
  std::map<std::string, std::vector<std::string>> unmatched;
  bool endedAtImFailure = false;  // the last cycle
  Status notWritten;              // the last cycle: why an order's cards could not be written (ok: none)
  bool loginLooksExpired = false;
  bool imNotAnswering = false;  // a message failed and the IM client has not answered since
  int undelivered = 0;          // orders whose cards were recorded but never reached the buyer
  // The phone alert channels that keep failing, their captions joined by
  // "、" (UTF-8); empty while every channel works.
  std::string alertChannelsFailing;
  int cyclesEnded = 0;  // since the start; tells the window that a cycle ended
  // Orders the order rules held back, by reason, as the last cycle that went
  // through the whole list saw them.
  std::map<HoldReason, int> heldByRules;

  int OrdersWaitingForStock() const;
  int UnmatchedOrders() const;
};

// The distinct orders of the sent-cards table whose delivery time lies on
// the local day of `now`, less those marked as not delivered; 0 when the
// table cannot be read.
int CountOrdersDeliveredToday(ShopContext& shop, std::time_t now = std::time(nullptr));

class DeliveryStatus : public DeliveryEvents {
 public:
  // `deliveredToday`: the count at start (CountOrdersDeliveredToday(shop)).
  explicit DeliveryStatus(int deliveredToday = 0);

  DeliveryStatusFigures Figures() const;
  // The alert channels that keep failing (alerts/alert_sender.h); empty: none.
  void SetAlertChannelsFailing(const std::string& captions);

  void CycleStarted() override;
  void OrdersScanned(const OrderScan& scan) override;
  void OrderSkipped(const PendingOrder& order, SkipReason reason) override;
  void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) override;
  void OrderHeld(const PendingOrder& order, HoldReason reason, bool news) override;
  void MessageHanded(const PendingOrder& order, bool handed) override;
  void OrderResent(const ResendResult& result) override;
  void LoginStateChanged(bool looksExpired) override;
  void CycleEnded(const CycleResult& result) override;

 private:
  void CountDelivered() AD_EXCLUDES(mutex_);
  void CountDeliveredLocked() AD_REQUIRES(mutex_);

  mutable Mutex mutex_;
  DeliveryStatusFigures figures_ AD_GUARDED_BY(mutex_);
  int day_ AD_GUARDED_BY(mutex_) = 0;                             // the day deliveredToday counts
  std::map<std::string, std::vector<std::string>> waitingNow_;    // this cycle's; delivery thread only
  std::map<std::string, std::vector<std::string>> unmatchedNow_;  // this cycle's; delivery thread only
  std::map<HoldReason, int> heldNow_;                             // this cycle's; delivery thread only
};

// The status line (UTF-8), e.g.
//   "上次扫描 14:03:07，列出 3 笔，2 笔未匹配 | 今日发货 12 笔 | 等待补货 2 笔 | 下次扫描 25 秒后"
// with "淘宝登录似乎已失效，请重新登录", "阿里旺旺未响应" or "旺旺没有收下消息"
// in front when so, "手机提醒发送失败：邮件" while an alert channel keeps
// failing, "未送达 N 笔" after the day's count when orders are marked as not
// delivered, and "自动发货未开启" in place of the next scan when the
// delivery is off. Orders held by the order rules add "待确认 N 笔" (over the
// purchase limit or waiting for approval), "延迟发货 N 笔", "免打扰时段 N 笔"
// and "黑名单等拦下 N 笔" (blacklisted or refused) after the waiting orders,
// each only while it holds one.
// An order page that could not be paired reads
//   "上次扫描 14:03:07，订单页面无法解析（宝贝标题 3，买家旺旺 3，订单编号 2，购买数量 3，发货链接 3）"
// so the seller sees why nothing is delivered.
// `secondsToNextScan` < 0: no scan is planned (the delivery is off);
// `cycleRunning`: a cycle runs now ("正在扫描" in place of the next scan).
std::string StatusLineText(const DeliveryStatusFigures& figures, int secondsToNextScan,
                           bool cycleRunning = false);

// Why the tray icon warns (UTF-8), the most pressing first:
// "阿里旺旺未响应", "淘宝登录已失效", "自动发货未开启"; empty when all is well.
std::string TrayAttentionText(const DeliveryStatusFigures& figures, bool deliveryOn);

// "未送达 N 笔" (UTF-8), the part of the status line the window shows in red.
std::string UndeliveredText(int count);

// The hover text of the waiting orders (UTF-8), one line per item:
//   "点卡10元：2 笔（订单 1001、1002）"; empty when nothing waits.
std::string WaitingForStockText(const DeliveryStatusFigures& figures);

// The hover text of the orders that match no monitored item (UTF-8), one
// line per title, the title in quotes so that a space at its end shows,
// which is also said in words:
//   "“点卡10元 ”（末尾有 1 个空格）：订单 1001"; empty when there are none.
std::string UnmatchedOrdersText(const DeliveryStatusFigures& figures);

}  // namespace autodeliver
