// The resend of a delivered order; see resend.h.
#include "delivery/resend.h"

#include <optional>
#include <set>

#include "delivery/consign.h"
#include "delivery/events.h"
#include "delivery/message_template.h"
#include "market/login.h"
#include "store/rows.h"
#include "store/sent_table.h"
#include "store/undelivered_orders.h"

namespace autodeliver {

std::string ResendMessage(ShopContext& shop, const ResendResult& result) {
  return BuyerMessage(shop, result.order.itemTitle, result.order.orderNumber, result.cards,
                      result.order.quantity);
}

bool LoadRecordedOrder(ShopContext& shop, const std::string& orderNumber, ResendResult* result) {
  result->order.orderNumber = orderNumber;
  result->cards.clear();
  std::vector<SentCard> sent;
  if (!LoadSentCards(shop, &sent)) return false;
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

ResendResult RetryUndeliveredOrder(ShopContext& shop, const PendingOrder& listed,
                                   const std::string& sellerNick, MessageSender& sender,
                                   DeliveryEvents* events) {
  ResendResult result;
  auto done = [&](ResendOutcome outcome) {
    result.outcome = outcome;
    if (events) events->OrderResent(result);
    return result;
  };
  if (!LoadRecordedOrder(shop, listed.orderNumber, &result)) return done(ResendOutcome::kNoRecordedCards);
  result.order.orderId = listed.orderId;
  result.listing = ScanOutcome::kListed;
  result.stillListed = true;
  UndeliveredOrders marks(shop);
  result.wasMarked = marks.IsMarked(listed.orderNumber);
  if (!sender.Send(sellerNick, result.order.buyerNick, ResendMessage(shop, result)))
    return done(ResendOutcome::kNotHanded);
  result.consignAnswered = ConsignOrder(listed);
  if (result.wasMarked) result.markCleared = marks.Clear(listed.orderNumber);
  return done(ResendOutcome::kResent);
}

ResendResult ResendOrder(ShopContext& shop, const std::string& orderNumber, MessageSender& sender,
                         DeliveryEvents* events) {
  return ResendOrders(shop, {orderNumber}, sender, events).results.front();
}

int ResendBatch::Resent() const {
  int n = 0;
  for (const ResendResult& r : results) n += r.outcome == ResendOutcome::kResent ? 1 : 0;
  return n;
}

ResendBatch ResendOrders(ShopContext& shop, const std::vector<std::string>& orderNumbers,
                         MessageSender& sender, DeliveryEvents* events, const std::atomic<bool>* stop) {
  ResendBatch batch;
  UndeliveredOrders marks(shop);
  std::set<std::string> seen;
  std::optional<std::string> nick;  // read at the first order that has cards to send
  bool ended = false;               // a message did not go out, or the nick is unknown
  for (const std::string& orderNumber : orderNumbers) {
    if (!seen.insert(orderNumber).second) continue;
    if (ended || (stop && stop->load())) {
      batch.notTried.push_back(orderNumber);
      continue;
    }
    ResendResult& result = batch.results.emplace_back();
    result.order.orderNumber = orderNumber;
    if (!LoadRecordedOrder(shop, orderNumber, &result)) {
      result.outcome = ResendOutcome::kNoRecordedCards;
      continue;
    }
    result.wasMarked = marks.IsMarked(orderNumber);
    if (!nick) nick = ReadSellerNick().nick;
    if (nick->empty()) {
      result.outcome = ResendOutcome::kSellerNickUnreadable;
      ended = true;
      continue;
    }
    if (!sender.Send(*nick, result.order.buyerNick, ResendMessage(shop, result))) {
      result.outcome = ResendOutcome::kNotHanded;
      ended = true;
      continue;
    }
    result.outcome = ResendOutcome::kResent;
  }

  // The buyers have their cards now. An order the marketplace still lists
  // as awaiting shipment is consigned, with the order id the list gives;
  // one look at the list serves every order of the batch.
  if (batch.Resent() > 0) {
    const OrderScan scan = ScanOrders();
    for (ResendResult& result : batch.results) {
      if (result.outcome != ResendOutcome::kResent) continue;
      result.listing = scan.outcome;
      for (const PendingOrder& listed : scan.orders) {
        if (listed.orderNumber != result.order.orderNumber) continue;
        result.stillListed = true;
        result.order.orderId = listed.orderId;
        result.consignAnswered = ConsignOrder(listed);
        break;
      }
      if (result.wasMarked) result.markCleared = marks.Clear(result.order.orderNumber);
    }
  }
  if (events)
    for (const ResendResult& result : batch.results) events->OrderResent(result);
  return batch;
}

ResendBatch ResendUndeliveredOrders(ShopContext& shop, MessageSender& sender, DeliveryEvents* events,
                                    const std::atomic<bool>* stop) {
  ResendBatch batch;
  batch.allUndelivered = true;
  const std::vector<UndeliveredOrder> marked = UndeliveredOrders(shop).List();
  batch.marked = static_cast<int>(marked.size());
  if (marked.empty()) return batch;
  const OrderScan scan = ScanOrders();
  batch.listing = scan.outcome;
  if (scan.outcome != ScanOutcome::kListed) {
    for (const UndeliveredOrder& mark : marked) batch.notTried.push_back(mark.orderNumber);
    return batch;
  }
  std::optional<std::string> nick;
  bool ended = false;
  for (const UndeliveredOrder& mark : marked) {
    const PendingOrder* listed = nullptr;
    for (const PendingOrder& order : scan.orders)
      if (order.orderNumber == mark.orderNumber) listed = &order;
    if (!listed) {
      batch.notListed.push_back(mark);
      continue;
    }
    if (ended || (stop && stop->load())) {
      batch.notTried.push_back(mark.orderNumber);
      continue;
    }
    if (!nick) nick = ReadSellerNick().nick;
    if (nick->empty()) {
      ResendResult& result = batch.results.emplace_back();
      if (!LoadRecordedOrder(shop, mark.orderNumber, &result)) result.order.orderNumber = mark.orderNumber;
      result.wasMarked = true;
      result.outcome = ResendOutcome::kSellerNickUnreadable;
      if (events) events->OrderResent(result);
      ended = true;
      continue;
    }
    batch.results.push_back(RetryUndeliveredOrder(shop, *listed, *nick, sender, events));
    if (batch.results.back().outcome == ResendOutcome::kNotHanded) ended = true;
  }
  return batch;
}

ResendBatch RunResend(ShopContext& shop, const ResendRequest& request, MessageSender& sender,
                      DeliveryEvents* events, const std::atomic<bool>* stop) {
  return request.allUndelivered ? ResendUndeliveredOrders(shop, sender, events, stop)
                                : ResendOrders(shop, request.orderNumbers, sender, events, stop);
}

}  // namespace autodeliver
