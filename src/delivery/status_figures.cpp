// The status line's figures; see status_figures.h.
#include "delivery/status_figures.h"

#include <set>

#include "delivery/resend.h"
#include "delivery/wording.h"
#include "store/rows.h"
#include "store/sent_table.h"
#include "store/sent_time.h"
#include "store/undelivered_orders.h"
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

int DeliveryStatusFigures::UnmatchedOrders() const {
  int count = 0;
  for (const auto& [title, orders] : unmatched) count += static_cast<int>(orders.size());
  return count;
}

int CountOrdersDeliveredToday(ShopContext& shop, std::time_t now) {
  // The delivery time reads "Y年M月D日..." (sent_time.h): the day is the text
  // up to and including "日".
  static const std::string kDay = "日"_gbk;
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  const std::string stamp = FormatSentAt(local);
  const std::string today = stamp.substr(0, stamp.find(kDay) + kDay.size());
  std::vector<SentCard> cards;
  if (!LoadSentCards(shop, &cards)) return 0;
  std::set<std::string> orders;
  for (const SentCard& card : cards) {
    if (card.sentAt.compare(0, today.size(), today) == 0) orders.insert(card.orderNumber);
  }
  for (const UndeliveredOrder& mark : UndeliveredOrders(shop).List()) orders.erase(mark.orderNumber);
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
  heldNow_.clear();
  unmatchedNow_.clear();
  MutexLock lock(mutex_);
  figures_.lastScanAt = std::chrono::system_clock::now();
}

void DeliveryStatus::OrdersScanned(const OrderScan& scan) {
  MutexLock lock(mutex_);
  figures_.lastScanOutcome = scan.outcome;
  figures_.lastScanCounts = scan.counts;
  figures_.ordersListed = static_cast<int>(scan.orders.size());
}

void DeliveryStatus::OrderSkipped(const PendingOrder& order, SkipReason reason) {
  if (reason == SkipReason::kNotMonitored) unmatchedNow_[order.itemTitle].push_back(order.orderNumber);
}

void DeliveryStatus::OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {
  if (reason == WaitReason::kStockShort) waitingNow_[order.itemTitle].push_back(order.orderNumber);
}

void DeliveryStatus::OrderHeld(const PendingOrder& order, HoldReason reason, bool news) {
  ++heldNow_[reason];
}

void DeliveryStatus::MessageHanded(const PendingOrder& order, bool handed) {
  if (handed) CountDelivered();
}

void DeliveryStatus::OrderResent(const ResendResult& result) {
  if (result.outcome != ResendOutcome::kResent) return;
  MutexLock lock(mutex_);
  if (result.markCleared && figures_.undelivered > 0) --figures_.undelivered;
  if (result.wasMarked) CountDeliveredLocked();
}

void DeliveryStatus::CountDelivered() {
  MutexLock lock(mutex_);
  CountDeliveredLocked();
}

void DeliveryStatus::CountDeliveredLocked() {
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
  figures_.notWritten = result.notWritten;
  figures_.loginLooksExpired = result.loginLooksExpired;
  figures_.imNotAnswering = result.imNotAnswering;
  figures_.undelivered = result.ordersUndelivered;
  // Only a cycle that went through the whole list knows what waits.
  if (result.scanOutcome == ScanOutcome::kListed && !result.stopped && !result.endedAtImFailure) {
    figures_.waitingForStock = waitingNow_;
    figures_.heldByRules = heldNow_;
    figures_.unmatched = unmatchedNow_;
  }
}

std::string StatusLineText(const DeliveryStatusFigures& f, int secondsToNextScan, bool cycleRunning) {
  std::string text;
  if (f.loginLooksExpired) text += "淘宝登录似乎已失效，请重新登录 | ";
  if (f.imNotAnswering) {
    text += "阿里旺旺未响应 | ";
  } else if (f.endedAtImFailure) {
    text += "旺旺没有收下消息 | ";
  }
  if (!f.notWritten.ok()) text += ShortCauseText(f.notWritten) + "，卡密无法记录，暂停发货 | ";
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
        if (f.UnmatchedOrders() > 0) text += "，" + std::to_string(f.UnmatchedOrders()) + " 笔未匹配";
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
    }
  } else {
    text += "尚未扫描";
  }
  text += " | 今日发货 " + std::to_string(f.deliveredToday) + " 笔";
  if (f.undelivered > 0) text += " | " + UndeliveredText(f.undelivered);
  text += " | 等待补货 " + std::to_string(f.OrdersWaitingForStock()) + " 笔";
  const auto held = [&](std::initializer_list<HoldReason> reasons) {
    int n = 0;
    for (const HoldReason r : reasons) {
      const auto it = f.heldByRules.find(r);
      if (it != f.heldByRules.end()) n += it->second;
    }
    return n;
  };
  const std::pair<const char*, int> holds[] = {
      {"待确认", held({HoldReason::kAwaitingApproval, HoldReason::kOverLimit})},
      {"延迟发货", held({HoldReason::kDelayed})},
      {"免打扰时段", held({HoldReason::kQuietHours})},
      {"黑名单等拦下", held({HoldReason::kBlacklisted, HoldReason::kRefused})}};
  for (const auto& [label, n] : holds) {
    if (n > 0) text += std::string(" | ") + label + " " + std::to_string(n) + " 笔";
  }
  if (cycleRunning) {
    text += " | 正在扫描";
  } else if (secondsToNextScan >= 0) {
    text += " | 下次扫描 " + std::to_string(secondsToNextScan) + " 秒后";
  } else {
    text += " | 自动发货未开启";
  }
  return text;
}

std::string TrayAttentionText(const DeliveryStatusFigures& f, bool deliveryOn) {
  std::string text;
  auto add = [&text](const char* part) { text += (text.empty() ? "" : "；") + std::string(part); };
  if (f.imNotAnswering) add("阿里旺旺未响应");
  if (f.loginLooksExpired) add("淘宝登录已失效");
  if (!deliveryOn) add("自动发货未开启");
  if (f.undelivered > 0) add(("未送达 " + std::to_string(f.undelivered) + " 笔").c_str());
  return text;
}

std::string UndeliveredText(int count) { return "未送达 " + std::to_string(count) + " 笔"; }

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

std::string UnmatchedOrdersText(const DeliveryStatusFigures& f) {
  static const std::string kFullWidthSpace = "\xA1\xA1";  // GBK
  std::string text;
  for (const auto& [title, orders] : f.unmatched) {
    // Spaces at the end, ASCII or full-width, counted as the seller types
    // them; a full-width space is two GBK bytes.
    std::string_view rest = title;
    int trailing = 0;
    while (!rest.empty()) {
      if (rest.back() == ' ') {
        rest.remove_suffix(1);
      } else if (rest.size() >= 2 && rest.substr(rest.size() - 2) == kFullWidthSpace) {
        rest.remove_suffix(2);
      } else {
        break;
      }
      ++trailing;
    }
    if (!text.empty()) text += "\n";
    text += "“" + LineText(title) + "”";
    if (trailing > 0) text += "（末尾有 " + std::to_string(trailing) + " 个空格）";
    text += "：订单 ";
    for (std::size_t i = 0; i < orders.size(); ++i) text += (i ? "、" : "") + LineText(orders[i]);
  }
  return text;
}

}  // namespace autodeliver
