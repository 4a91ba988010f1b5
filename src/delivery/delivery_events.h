// An optional observer of the delivery cycle: what happened to each order
// and why, as it happens, framed by the start and the end of each cycle.
// The program's window watches for the orders that wait for stock
// (waiting_needs.h); a demo or a test that wants to show or check each
// order's fate hands one in. Every method does nothing by default, so an
// observer overrides only what it needs.
//
// Order of the calls in one cycle: CycleStarted, then per order OrderSeen
// and its fate (OrderSkipped, OrderWaiting, or CardsDelivered,
// MessageHanded and, when handed, OrderConsigned), and CycleEnded last.
//
// Thread safety: every method is called on the delivery thread, in the
// order of the events, while the cycle runs; an implementation that shares
// what it sees with another thread guards it itself. The methods must not
// block for long: the cycle waits for them.
#pragma once

#include <vector>

#include "delivery/card_delivery.h"
#include "market/order_scan.h"

namespace autodeliver {

struct CycleResult;  // delivery_cycle.h

// Why the cycle passed an order by without touching it.
enum class SkipReason {
  kAlreadyDelivered,  // its cards are in the sent-cards table already
  kNotMonitored,      // its item title is not a monitored item
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
  // The scan listed the order; the events below follow for it.
  virtual void OrderSeen(const PendingOrder& order) {}
  virtual void OrderSkipped(const PendingOrder& order, SkipReason reason) {}
  // `stockLeft`: the cards of the item in stock when the order was looked
  // at (meaningful for kStockShort).
  virtual void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {}
  // The cards were taken and recorded for the buyer, in message order.
  virtual void CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) {}
  // Whether the message was handed to the chat window.
  virtual void MessageHanded(const PendingOrder& order, bool handed) {}
  // The consign request was posted; `answered` tells whether the
  // marketplace answered at all.
  virtual void OrderConsigned(const PendingOrder& order, bool answered) {}
  // The cycle ended, with its counts (also when it was stopped early).
  virtual void CycleEnded(const CycleResult& result) {}
};

}  // namespace autodeliver
