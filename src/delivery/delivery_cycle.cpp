// One delivery cycle; see delivery_cycle.h.
#include "delivery/delivery_cycle.h"

#include <optional>
#include <string>

#include "delivery/card_delivery.h"
#include "delivery/consign.h"
#include "delivery/delivery_events.h"
#include "market/login.h"
#include "market/order_scan.h"
#include "store/store_ops.h"

namespace autodeliver {

const char* Describe(SkipReason reason) {
  switch (reason) {
    case SkipReason::kAlreadyDelivered:
      return "its cards were delivered before";
    case SkipReason::kNotMonitored:
      return "its item is not a monitored item";
  }
  return "unknown";
}

const char* Describe(WaitReason reason) {
  switch (reason) {
    case WaitReason::kSellerNickUnreadable:
      return "the seller's nick could not be read";
    case WaitReason::kQuantityNotPositive:
      return "its quantity is 0 or less";
    case WaitReason::kStockShort:
      return "the stock holds fewer cards than were bought";
    case WaitReason::kOnlineCardFailed:
      return "an online card's request failed or answered nothing";
    case WaitReason::kStockChanged:
      return "the stock changed while its cards were prepared";
    case WaitReason::kRecordFailed:
      return "no card could be taken and recorded";
  }
  return "unknown";
}

CycleResult RunDeliveryCycle(MessageSender& sender, const std::atomic<bool>& stopRequested,
                             DeliveryEvents* events) {
  DeliveryEvents none;
  DeliveryEvents& observer = events ? *events : none;
  CycleResult result;
  observer.CycleStarted();
  const std::vector<PendingOrder> orders = ScanPendingOrders();
  result.ordersListed = static_cast<int>(orders.size());
  for (const PendingOrder& order : orders) {
    if (stopRequested.load()) {
      result.stopped = true;
      break;
    }
    observer.OrderSeen(order);
    if (SentCardExists(order.orderNumber)) {
      observer.OrderSkipped(order, SkipReason::kAlreadyDelivered);
      continue;
    }
    if (!ItemExists(order.itemTitle)) {
      observer.OrderSkipped(order, SkipReason::kNotMonitored);
      continue;
    }
    const std::string sellerNick = FetchSellerNick();
    // Without the seller's nick the chat cannot be addressed: taking cards
    // now would strand them, so the order waits for a later cycle.
    if (sellerNick.empty()) {
      observer.OrderWaiting(order, WaitReason::kSellerNickUnreadable, 0);
      continue;
    }
    const CardDelivery delivery =
        DeliverCardsOf(order.orderNumber, order.itemTitle, order.buyerNick, std::string(), order.quantity);
    if (!delivery.message) {  // waits for stock or for its online cards
      observer.OrderWaiting(order, delivery.waitReason, delivery.stockLeft);
      continue;
    }
    ++result.ordersDelivered;
    observer.CardsDelivered(order, delivery.cards);
    // The cards are recorded now; the order leaves the list only when they
    // reached the buyer, otherwise it stays for the seller to see.
    const bool handed = sender.Send(sellerNick, order.buyerNick, *delivery.message);
    observer.MessageHanded(order, handed);
    if (!handed) continue;
    observer.OrderConsigned(order, ConsignOrder(order));
    ++result.ordersConsigned;
  }
  observer.CycleEnded(result);
  return result;
}

}  // namespace autodeliver
