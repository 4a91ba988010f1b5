// An observer of the delivery cycle: what happened to each order and why,
// as it happens, framed by the start and the end of each cycle. The program
// always has one (the delivery log, log.h, with the notification
// policy and the window's own observers behind a fan-out); a demo or a test
// that wants to show or check each order's fate hands one in. Every method
// does nothing by default, so an observer overrides only what it needs.
//
// Order of the calls in one cycle: CycleStarted, OrderRecovered for each
// delivery cut short that the recovery completed in the tables,
// OrdersScanned, then per
// order OrderSeen and its fate (OrderSkipped, OrderHeld, OrderWaiting,
// OrderNotWritten, or
// CardsDelivered, StockAfterDelivery, MessageHanded and, when handed,
// OrderConsigned; or, for an order finished from the delivery journal,
// OrderRecovered and OrderConsigned), then LoginStateChanged when the login decision changed,
// and CycleEnded last.
// A resend comes between cycles, never during one: OrderResent alone.
//
// Thread safety: every method is called on the delivery thread, in the
// order of the events, while the cycle runs; an implementation that shares
// what it sees with another thread guards it itself. The methods must not
// block for long: the cycle waits for them.
#pragma once

#include <vector>

#include "delivery/card_delivery.h"
#include "delivery/order_rules.h"
#include "market/order_scan.h"
#include "market/scan_outcome.h"

namespace autodeliver {

struct CycleResult;   // cycle.h
struct ResendResult;  // resend.h

// Why the cycle passed an order by without touching it.
enum class SkipReason {
  kAlreadyDelivered,  // its cards are in the sent-cards table already
  kNotMonitored,      // its item title is not a monitored item
};

// What the recovery of a delivery cut short (a crash, a power cut, a full
// disk) did to an order; see cycle.h.
enum class RecoveryAction {
  kRecordsCompleted,  // its planned cards were recorded and taken from the stock
  kPlanDropped,       // its planned cards were never taken; they stay in the stock
  kResent,            // its recorded cards were sent again (the same cards)
  kConsignRetried,    // the consign request was posted again, without a message
  kFoundConsigned,    // handed before and no longer listed: taken as consigned
  kMarkedForSeller,   // it could not be settled; marked as not delivered for the seller
};

// A short English description of a reason (WaitReason: card_delivery.h),
// for printouts.
const char* Describe(SkipReason reason);
const char* Describe(WaitReason reason);

class DeliveryEvents {
 public:
  virtual ~DeliveryEvents() = default;

  // A cycle begins (before the order page is fetched).
  virtual void CycleStarted() {}
  // The order page was fetched and read: its orders, or why there are none.
  virtual void OrdersScanned(const OrderScan& scan) {}
  // The scan listed the order; the events below follow for it.
  virtual void OrderSeen(const PendingOrder& order) {}
  virtual void OrderSkipped(const PendingOrder& order, SkipReason reason) {}
  // The order rules (order_rules.h) held the order back, with no card
  // taken; `news` is true when it was not held for this reason at the last
  // look (told once, not at every cycle).
  virtual void OrderHeld(const PendingOrder& order, HoldReason reason, bool news) {}
  // `stockLeft`: the cards of the item in stock when the order was looked
  // at (meaningful for kStockShort). For kBuyerNickUnpassable and
  // kSellerNickUnpassable the seller is to be told
  // UnpassableNickNotice(reason) (delivery/chat_address.h).
  virtual void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {}
  // The order's cards could not be written to the disk (the journal or the
  // tables failed), so none was sent and the order waits: `cause` tells why
  // (no space, an I/O error naming the file, a refused permission). An
  // observer that does not look at the cause sees it as OrderWaiting with
  // kNotWritten.
  virtual void OrderNotWritten(const PendingOrder& order, const Status& cause) {
    OrderWaiting(order, WaitReason::kNotWritten, 0);
  }
  // The cards were taken and recorded for the buyer, in message order.
  virtual void CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) {}
  // The cards of the order's item left in stock once its cards were taken.
  virtual void StockAfterDelivery(const PendingOrder& order, int cardsLeft) {}
  // Whether the message was handed to the chat window. When it was not, the
  // order is marked as not delivered to its buyer and the cycle ends here.
  virtual void MessageHanded(const PendingOrder& order, bool handed) {}
  // The consign request was posted; `answered` tells whether the
  // marketplace answered at all.
  virtual void OrderConsigned(const PendingOrder& order, bool answered) {}
  // The recovery settled (or tried to settle) an order left unfinished;
  // `ok` is false when the step failed and is tried again later (a
  // resend not handed over, a consign not answered, a record or a mark not
  // written). When a file failed, `cause` tells why (no space, an I/O error
  // naming the file, a refused permission); it is ok when the step that
  // failed was not a file's or gave no cause.
  // Only orderNumber, itemTitle, quantity and buyerNick of `order` are set.
  virtual void OrderRecovered(const PendingOrder& order, RecoveryAction action, bool ok,
                              const Status& cause) {}
  // The login decision changed (login_watch.h): `looksExpired` once the
  // login looks expired, false again once it works.
  virtual void LoginStateChanged(bool looksExpired) {}
  // The cycle ended, with its counts.
  virtual void CycleEnded(const CycleResult& result) {}

  // Outside the cycles: the seller had an order's recorded cards sent to
  // its buyer again (resend.h); told once the resend is over, with what
  // became of the message, the order's listing and its mark.
  virtual void OrderResent(const ResendResult& result) {}
};

}  // namespace autodeliver
