// Which events become notifications; see notification_policy.h.
#include "delivery/notification_policy.h"

#include <algorithm>
#include <iterator>

#include "delivery/wording.h"

namespace autodeliver {

NotificationPolicy::NotificationPolicy(Notifier* notifier, EnabledCheck enabled)
    : notifier_(notifier),
      enabled_(enabled ? std::move(enabled) : EnabledCheck([](NotificationKind) { return true; })) {}

void NotificationPolicy::SetNotifier(Notifier* notifier) {
  MutexLock lock(mutex_);
  notifier_ = notifier;
}

void NotificationPolicy::SetWarningLevel(WarningLevel level) {
  MutexLock lock(mutex_);
  warningLevel_ = std::move(level);
}

void NotificationPolicy::Tell(Notification notification) {
  // The switch is read without the mutex (it takes the store lock); Notify
  // only queues, so holding the mutex around it keeps SetNotifier simple.
  if (!enabled_(notification.kind)) return;
  MutexLock lock(mutex_);
  if (notifier_ != nullptr) notifier_->Notify(notification);
}

void NotificationPolicy::TellStockWarning(const std::string& text, const std::string& itemTitle) {
  Tell({NotificationKind::kStockWarning, "库存预警", text, itemTitle});
}

void NotificationPolicy::OrdersScanned(const OrderScan& scan) {
  waitingThisCycle_.clear();
  if (scan.outcome == ScanOutcome::kListed) unpairedTold_ = false;
  if (scan.outcome != ScanOutcome::kUnpaired || unpairedTold_) return;
  unpairedTold_ = true;
  Tell({NotificationKind::kPageUnpaired,
        "订单页面无法解析",
        WordOrdersScanned(scan).text + "。请检查订单页。",
        {}});
}

void NotificationPolicy::OrderHeld(const PendingOrder& order, HoldReason reason, bool news) {
  if (!news || reason == HoldReason::kQuietHours || reason == HoldReason::kDelayed) return;
  const char* summary = reason == HoldReason::kAwaitingApproval || reason == HoldReason::kOverLimit
                            ? "订单待确认"
                            : "订单被发货规则拦下";
  // The order is the subject: a second order held soon after is news of
  // its own, not a repeat of the first.
  Tell({NotificationKind::kOrderHeld, summary,
        "订单 " + LineText(order.orderNumber) + "（买家 " + LineText(order.buyerNick) + "）的宝贝“" +
            LineText(order.itemTitle) + "” × " + std::to_string(order.quantity) + "：" + ReasonText(reason) +
            (IsApprovable(reason) ? "。请在“发货规则”中同意或拒绝。" : "。"),
        LineText(order.orderNumber)});
}

void NotificationPolicy::OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {
  if (reason != WaitReason::kStockShort) return;
  waitingThisCycle_.insert(order.orderNumber);
  if (!waitingTold_.insert(order.orderNumber).second) return;
  Tell({NotificationKind::kWaitingForStock, "订单等待补货",
        "订单 " + LineText(order.orderNumber) + "（买家 " + LineText(order.buyerNick) + "）的宝贝“" +
            LineText(order.itemTitle) + "”库存不足：库存 " + std::to_string(stockLeft) + " 张，需要 " +
            std::to_string(order.quantity) + " 张。补货后下一轮自动发货。",
        LineText(order.itemTitle)});
}

void NotificationPolicy::OrderNotWritten(const PendingOrder& order, const Status& cause) {
  if (notWrittenTold_.code() == cause.code() && notWrittenTold_.error() == cause.error()) return;
  notWrittenTold_ = cause;
  Tell({NotificationKind::kImFailed,
        CauseSummary(cause),
        "订单 " + LineText(order.orderNumber) + "（买家 " + LineText(order.buyerNick) +
            "）的卡密无法记入已发卡密：" + CauseText(cause) + "。卡密没有发出，" + CauseAdvice(cause) +
            "，之后自动继续发货。",
        {}});
}

void NotificationPolicy::CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) {
  cardsJustDelivered_ = static_cast<int>(cards.size());
}

void NotificationPolicy::StockAfterDelivery(const PendingOrder& order, int cardsLeft) {
  int level = 0;
  {
    MutexLock lock(mutex_);
    if (warningLevel_) level = warningLevel_(order.itemTitle);
  }
  // Told when this delivery crossed the level, not while the stock stays low.
  const int before = cardsLeft + cardsJustDelivered_;
  cardsJustDelivered_ = 0;
  if (cardsLeft > level || before <= level) return;
  Tell({NotificationKind::kStockWarning, "库存预警",
        "宝贝“" + LineText(order.itemTitle) + "”库存只剩 " + std::to_string(cardsLeft) + " 张，请及时补货。",
        LineText(order.itemTitle)});
}

void NotificationPolicy::MessageHanded(const PendingOrder& order, bool handed) {
  if (handed) return;
  Tell({NotificationKind::kImFailed,
        "旺旺消息未送出",
        "订单 " + LineText(order.orderNumber) + " 的卡密已记入已发卡密，但消息没能交给旺旺，买家 " +
            LineText(order.buyerNick) + " 没有收到。本轮发货已停止，请检查旺旺是否已登录，再补发此订单。",
        {}});
}

void NotificationPolicy::LoginStateChanged(bool looksExpired) {
  if (!looksExpired) return;
  Tell({NotificationKind::kLoginExpired,
        "淘宝登录已失效",
        "连续两轮扫描都看到登录页面或读不到卖家旺旺名，自动发货无法进行。请点“重新登录”登录淘宝。",
        {}});
}

void NotificationPolicy::CycleEnded(const CycleResult& result) {
  if (result.notWritten.ok()) notWrittenTold_ = Status();
  // Forget the orders that no longer wait, but only after a cycle that saw
  // the whole list: an order not reached this time may still be waiting.
  const bool sawEveryOrder =
      result.scanOutcome == ScanOutcome::kListed && !result.stopped && !result.endedAtImFailure;
  if (!sawEveryOrder) return;
  std::set<std::string> still;
  std::set_intersection(waitingTold_.begin(), waitingTold_.end(), waitingThisCycle_.begin(),
                        waitingThisCycle_.end(), std::inserter(still, still.end()));
  waitingTold_ = std::move(still);
}

}  // namespace autodeliver
