// One delivery cycle: scan the orders awaiting shipment and, in page order,
// deliver every order not recorded before whose item title is a monitored
// item: take and record its cards, message the buyer, consign the order.
//
// An order waits for a later cycle, with no card taken, when the seller's
// nick cannot be read, when the buyer's or the seller's nick cannot reach the
// IM client intact (delivery/chat_address.h) -- the chat could not be
// addressed -- or when its cards cannot all be given now (see
// card_delivery.h).
//
// An order is consigned only when its cards reached the buyer: when the
// message could not be handed to the chat window, the cards stay recorded
// (so they are never given to another buyer) and the order stays listed as
// awaiting shipment for the seller to look at.
//
// Thread safety: runs on the delivery thread; at most one cycle at a time
// (DeliveryController sees to that).
#pragma once

#include <atomic>

#include "delivery/message_sender.h"
#include "market/order_scan.h"

namespace autodeliver {
class DeliveryEvents;
}

namespace autodeliver {

struct CycleResult {
  int ordersListed = 0;                                    // orders the scan returned
  int ordersDelivered = 0;                                 // orders whose cards were taken and recorded
  int ordersConsigned = 0;                                 // orders posted as shipped
  bool stopped = false;                                    // the cycle stopped early on request
  OrderPageOutcome pageOutcome = OrderPageOutcome::kRead;  // what became of the order list page
};

// Runs one cycle. `stopRequested` is read before every order: once it is
// set, the order in hand is finished and no further order is begun.
// `events`, when given, is told each order's fate as it happens.
CycleResult RunDeliveryCycle(MessageSender& sender, const std::atomic<bool>& stopRequested,
                             DeliveryEvents* events = nullptr);

}  // namespace autodeliver
