// Which delivery events become desktop notifications, and how often: the
// seller wants to hear of a problem once, not at every scan.
//
//   kImFailed         every message that could not be handed to the IM
//                     client (each one is an order whose buyer has no cards)
//   kWaitingForStock  an order that starts waiting for stock; not again while
//                     it keeps waiting (an order that stops waiting and waits
//                     again later is told again)
//   kStockWarning     a delivery that takes a monitored item's stock from
//                     above its warning level to the level or below; a
//                     stock that stays low is not told again, a restocked
//                     one that falls again is (without a level function the
//                     level is 0: the item's last card went out; a level
//                     below 0 is never reached). The program itself gives
//                     no level here: its items page counts the stock after
//                     every change, finds each crossing (deliveries,
//                     removals, a new level) and tells it through
//                     TellStockWarning
//   kPageUnpaired     the order page could not be paired; again only after a
//                     page was read normally
//   kLoginExpired     the login watch decided that the login looks expired
//   kOrderHeld        an order the order rules hold back for the seller: a
//                     blacklisted buyer, over the purchase limit, waiting for
//                     approval; once per order and reason (the delay and the
//                     quiet hours pass by themselves and are not told)
//
// An order whose cards could not be written (a full disk, a failing disk,
// a refused permission) is told under kImFailed with its cause, as it too
// leaves a buyer without cards: once, and again when the cause changes or
// after a cycle without it.
//
// A kind the seller switched off (notification_settings.h) is not shown;
// what the policy remembers goes on regardless, so switching a kind on
// later brings no stale flood.
//
// Thread safety: the events come from the delivery thread; SetNotifier and
// SetWarningLevel may be called from any thread.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "base/mutex.h"
#include "delivery/cycle.h"
#include "delivery/events.h"
#include "delivery/notifier.h"

namespace autodeliver {

class NotificationPolicy : public DeliveryEvents {
 public:
  // Whether a kind is switched on (StoredNotificationSwitches reads the
  // shop's settings table); without one every kind is on.
  using EnabledCheck = std::function<bool(NotificationKind)>;
  // The warning level of an item (its GBK title); the default is 0.
  using WarningLevel = std::function<int(const std::string& itemTitle)>;

  explicit NotificationPolicy(Notifier* notifier = nullptr, EnabledCheck enabled = {});

  // The notifier to tell from now on (null: none). Once this returns, the
  // previous notifier is not called any more.
  void SetNotifier(Notifier* notifier);
  void SetWarningLevel(WarningLevel level);

  // A stock warning found outside the delivery events, by a count of the
  // stock (store/stock_warnings.h); told under the kStockWarning switch.
  // `text` and `itemTitle` are UTF-8.
  void TellStockWarning(const std::string& text, const std::string& itemTitle = {});

  void OrdersScanned(const OrderScan& scan) override;
  void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) override;
  void OrderNotWritten(const PendingOrder& order, const Status& cause) override;
  void OrderHeld(const PendingOrder& order, HoldReason reason, bool news) override;
  void CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) override;
  void StockAfterDelivery(const PendingOrder& order, int cardsLeft) override;
  void MessageHanded(const PendingOrder& order, bool handed) override;
  void LoginStateChanged(bool looksExpired) override;
  void CycleEnded(const CycleResult& result) override;

 private:
  void Tell(Notification notification);

  Mutex mutex_;
  Notifier* notifier_ AD_GUARDED_BY(mutex_) = nullptr;
  EnabledCheck enabled_;
  WarningLevel warningLevel_ AD_GUARDED_BY(mutex_);
  // Delivery-thread state.
  std::set<std::string> waitingTold_;       // orders told as waiting for stock
  std::set<std::string> waitingThisCycle_;  // orders seen waiting for stock in this cycle
  int cardsJustDelivered_ = 0;              // the cards of the order in hand
  bool unpairedTold_ = false;
  Status notWrittenTold_;  // the cause told, until a cycle without one
};

}  // namespace autodeliver
