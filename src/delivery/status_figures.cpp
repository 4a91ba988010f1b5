// The status line's figures; see status_figures.h.
#include "delivery/status_figures.h"

#include <set>

#include "delivery/wording.h"
#include "store/rows.h"
#include "store/sent_table.h"
#include "store/sent_time.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

// The local day of `t` as one number (year, day of the year).
int DayOf(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return (local.tm_year + 1900) * 1000 + local.tm_yday;
}

int Today() { return DayOf(std::time(nullptr)); }

// The five pattern counts, short enough for the status line.
std::string CompactCountsText(const OrderPatternCounts& c) {
  return "宝贝标题 " + std::to_string(c.itemTitles) + "，买家旺旺 " + std::to_string(c.buyerNicks) +
         "，订单编号 " + std::to_string(c.orderNumbers) + "，购买数量 " + std::to_string(c.quantities) +
         "，发货链接 " + std::to_string(c.orderIds);
}

}  // namespace

int DeliveryStatusFigures::OrdersWaitingForStock() const {
  int count = 0;
  for (const auto& [item, orders] : waitingForStock) count += static_cast<int>(orders.size());
  return count;
}

int CountOrdersDeliveredToday(std::time_t now) {
  // The delivery time reads "Y年M月D日..." (sent_time.h): the day is the text
  // up to and including "日".
  static const std::string kDay = "日"_gbk;
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  const std::string stamp = FormatSentAt(local);
  const std::string today = stamp.substr(0, stamp.find(kDay) + kDay.size());
  std::vector<SentCard> cards;
  if (!LoadSentCards(&cards)) return 0;
  std::set<std::string> orders;
  for (const SentCard& card : cards) {
    if (card.sentAt.compare(0, today.size(), today) == 0) orders.insert(card.orderNumber);
  }
  return static_cast<int>(orders.size());
}

DeliveryStatus::DeliveryStatus(int deliveredToday) : day_(Today()) {
  figures_.deliveredToday = deliveredToday;
}

void DeliveryStatus::SetAlertChannelsFailing(const std::string& captions) {
  MutexLock lock(mutex_);
  figures_.alertChannelsFailing = captions;
}

DeliveryStatusFigures DeliveryStatus::Figures() const {
  MutexLock lock(mutex_);
  DeliveryStatusFigures copy = figures_;
  if (Today() != day_) copy.deliveredToday = 0;  // nothing delivered yet on the new day
  return copy;
}

void DeliveryStatus::CycleStarted() {
  waitingNow_.clear();
  MutexLock lock(mutex_);
  figures_.lastScanAt = std::chrono::system_clock::now();
}

void DeliveryStatus::OrdersScanned(const OrderScan& scan) {
  MutexLock lock(mutex_);
  figures_.lastScanOutcome = scan.outcome;
  figures_.lastScanCounts = scan.counts;
  figures_.ordersListed = static_cast<int>(scan.orders.size());
}

void DeliveryStatus::OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {
  if (reason == WaitReason::kStockShort) waitingNow_[order.itemTitle].push_back(order.orderNumber);
}

void DeliveryStatus::CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) {
  MutexLock lock(mutex_);
  const int today = Today();
  if (today != day_) {
    day_ = today;
    figures_.deliveredToday = 0;
  }
  ++figures_.deliveredToday;
}

void DeliveryStatus::LoginStateChanged(bool looksExpired) {
  MutexLock lock(mutex_);
  figures_.loginLooksExpired = looksExpired;
}

void DeliveryStatus::CycleEnded(const CycleResult& result) {
  MutexLock lock(mutex_);
  ++figures_.cyclesEnded;
  figures_.endedAtImFailure = result.endedAtImFailure;
  figures_.diskFull = result.diskFull;
  figures_.loginLooksExpired = result.loginLooksExpired;
  // Only a cycle that went through the whole list knows what waits.
  if (result.scanOutcome == ScanOutcome::kListed && !result.stopped && !result.endedAtImFailure) {
    figures_.waitingForStock = waitingNow_;
  }
}

std::string StatusLineText(const DeliveryStatusFigures& f, int secondsToNextScan, bool cycleRunning) {
  std::string text;
  if (f.loginLooksExpired) text += "淘宝登录似乎已失效，请重新登录 | ";
  if (f.endedAtImFailure) text += "旺旺没有收下消息 | ";
  if (f.diskFull) text += "磁盘已满，卡密无法记录，暂停发货 | ";
  if (!f.alertChannelsFailing.empty()) text += "手机提醒发送失败：" + f.alertChannelsFailing + " | ";
  if (f.lastScanAt) {
    const std::time_t t = std::chrono::system_clock::to_time_t(*f.lastScanAt);
    std::tm local{};
    localtime_r(&t, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    text += std::string("上次扫描 ") + clock;
    switch (f.lastScanOutcome) {
      case ScanOutcome::kListed:
        text += "，列出 " + std::to_string(f.ordersListed) + " 笔";
        break;
      case ScanOutcome::kUnpaired:
        text += "，订单页面无法解析（" + CompactCountsText(f.lastScanCounts) + "）";
        break;
      case ScanOutcome::kSignInPage:
        text += "，订单页是登录页面";
        break;
      case ScanOutcome::kNoAnswer:
        text += "，订单页没有应答";
        break;
      case ScanOutcome::kTooLarge:
      case ScanOutcome::kTooComplex:
        text += "，订单页异常，未读取";
        break;
    }
  } else {
    text += "尚未扫描";
  }
  text += " | 今日发货 " + std::to_string(f.deliveredToday) + " 笔";
  text += " | 等待补货 " + std::to_string(f.OrdersWaitingForStock()) + " 笔";
  if (cycleRunning) {
    text += " | 正在扫描";
  } else if (secondsToNextScan >= 0) {
    text += " | 下次扫描 " + std::to_string(secondsToNextScan) + " 秒后";
  }
  return text;
}

std::string WaitingForStockText(const DeliveryStatusFigures& f) {
  std::string text;
  for (const auto& [item, orders] : f.waitingForStock) {
    if (!text.empty()) text += "\n";
    text += LineText(item) + "：" + std::to_string(orders.size()) + " 笔（订单 ";
    for (std::size_t i = 0; i < orders.size(); ++i) text += (i ? "、" : "") + LineText(orders[i]);
    text += "）";
  }
  return text;
}

}  // namespace autodeliver
