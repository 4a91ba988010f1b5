// The resend of a delivered order; see resend.h.
#include "delivery/resend.h"

#include "delivery/consign.h"
#include "delivery/events.h"
#include "delivery/message_template.h"
#include "market/login.h"
#include "store/rows.h"
#include "store/sent_table.h"
#include "store/undelivered_orders.h"

namespace autodeliver {

std::string ResendMessage(const ResendResult& result) {
  return BuyerMessage(result.order.itemTitle, result.order.orderNumber, result.cards, result.order.quantity);
}

bool LoadRecordedOrder(const std::string& orderNumber, ResendResult* result) {
  result->order.orderNumber = orderNumber;
  result->cards.clear();
  std::vector<SentCard> sent;
  if (!LoadSentCards(&sent)) return false;
  for (const SentCard& card : sent) {
    if (card.orderNumber != orderNumber) continue;
    if (result->cards.empty()) {
      result->order.itemTitle = card.itemName;
      result->order.buyerNick = card.buyerNick;
      result->order.quantity = card.quantity;
    }
    result->cards.push_back({card.cardNumber, card.cardPassword});
  }
  return !result->cards.empty();
}

ResendResult RetryUndeliveredOrder(const PendingOrder& listed, const std::string& sellerNick,
                                   MessageSender& sender, DeliveryEvents* events) {
  ResendResult result;
  auto done = [&](ResendOutcome outcome) {
    result.outcome = outcome;
    if (events) events->OrderResent(result);
    return result;
  };
  if (!LoadRecordedOrder(listed.orderNumber, &result)) return done(ResendOutcome::kNoRecordedCards);
  result.order.orderId = listed.orderId;
  result.listing = ScanOutcome::kListed;
  result.stillListed = true;
  UndeliveredOrders marks;
  result.wasMarked = marks.IsMarked(listed.orderNumber);
  if (!sender.Send(sellerNick, result.order.buyerNick, ResendMessage(result)))
    return done(ResendOutcome::kNotHanded);
  result.consignAnswered = ConsignOrder(listed);
  if (result.wasMarked) result.markCleared = marks.Clear(listed.orderNumber);
  return done(ResendOutcome::kResent);
}

ResendResult ResendOrder(const std::string& orderNumber, MessageSender& sender, DeliveryEvents* events) {
  ResendResult result;
  result.order.orderNumber = orderNumber;
  auto done = [&](ResendOutcome outcome) {
    result.outcome = outcome;
    if (events) events->OrderResent(result);
    return result;
  };

  if (!LoadRecordedOrder(orderNumber, &result)) return done(ResendOutcome::kNoRecordedCards);

  UndeliveredOrders marks;
  result.wasMarked = marks.IsMarked(orderNumber);
  const SellerNickRead nick = ReadSellerNick();
  if (nick.nick.empty()) return done(ResendOutcome::kSellerNickUnreadable);
  if (!sender.Send(nick.nick, result.order.buyerNick, ResendMessage(result)))
    return done(ResendOutcome::kNotHanded);

  // The buyer has the cards now. An order the marketplace still lists as
  // awaiting shipment is consigned, with the order id the list gives.
  const OrderScan scan = ScanOrders();
  result.listing = scan.outcome;
  for (const PendingOrder& listed : scan.orders) {
    if (listed.orderNumber != orderNumber) continue;
    result.stillListed = true;
    result.order.orderId = listed.orderId;
    result.consignAnswered = ConsignOrder(listed);
    break;
  }
  if (result.wasMarked) result.markCleared = marks.Clear(orderNumber);
  return done(ResendOutcome::kResent);
}

}  // namespace autodeliver
