// One delivery cycle; see delivery_cycle.h.
#include "delivery/delivery_cycle.h"

#include <optional>
#include <string>

#include "delivery/card_delivery.h"
#include "delivery/consign.h"
#include "market/login.h"
#include "market/order_scan.h"
#include "store/store_ops.h"

namespace autodeliver {

CycleResult RunDeliveryCycle(MessageSender& sender, const std::atomic<bool>& stopRequested) {
  CycleResult result;
  const std::vector<PendingOrder> orders = ScanPendingOrders();
  result.ordersListed = static_cast<int>(orders.size());
  for (const PendingOrder& order : orders) {
    if (stopRequested.load()) {
      result.stopped = true;
      break;
    }
    if (SentCardExists(order.orderNumber)) continue;  // delivered before
    if (!ItemExists(order.itemTitle)) continue;       // not a monitored item
    const std::string sellerNick = FetchSellerNick();
    // Without the seller's nick the chat cannot be addressed: taking cards
    // now would strand them, so the order waits for a later cycle.
    if (sellerNick.empty()) continue;
    const std::optional<std::string> message =
        DeliverCards(order.orderNumber, order.itemTitle, order.buyerNick, std::string(), order.quantity);
    if (!message) continue;  // waits for stock or for its online cards
    ++result.ordersDelivered;
    // The cards are recorded now; the order leaves the list only when they
    // reached the buyer, otherwise it stays for the seller to see.
    if (!sender.Send(sellerNick, order.buyerNick, *message)) continue;
    ConsignOrder(order);
    ++result.ordersConsigned;
  }
  return result;
}

}  // namespace autodeliver
