// The resend of a delivered order, asked for by the seller on the
// sent-cards page: the order's cards as the sent-cards table recorded them
// go to its buyer again through the IM client, in the very message of the
// first delivery (the cards in table order). No card is taken from the stock
// and nothing is written to the sent-cards table.
//
// After the message was handed over, the order list is read once more: an
// order still listed as awaiting shipment is consigned (the first delivery
// left it listed when its message did not get through), and the order's
// not-delivered mark (store/undelivered_orders.h) is cleared. A message that
// was not handed over changes nothing: the mark stays for another try.
//
// Several orders go in one batch (ResendOrders): each with its own recorded
// cards to its own buyer, in the order given, the seller's nick read once
// and the order list read once after the last message. The first message
// the IM client does not take ends the batch: the orders after it are not
// tried (each would wait out the same bound) and keep their marks.
// ResendUndeliveredOrders sends every marked order the order list still
// shows as awaiting shipment; a marked order it no longer shows is left
// marked and named in the batch, for the seller to look at.
//
// Each order's outcome is told to the delivery events (OrderResent), which
// the delivery log writes down.
//
// Thread safety: runs on the delivery thread, never beside a delivery cycle
// (DeliveryController::StartResend sees to that).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "delivery/card_delivery.h"
#include "delivery/message_sender.h"
#include "market/order_scan.h"
#include "market/scan_outcome.h"
#include "store/undelivered_orders.h"

namespace autodeliver {

class ShopContext;

class DeliveryEvents;

enum class ResendOutcome {
  kResent,                // the message was handed to the chat window
  kNoRecordedCards,       // the sent-cards table holds no card of the order (or cannot be read)
  kSellerNickUnreadable,  // the chat could not be addressed; nothing was sent
  kNotHanded,             // the IM client did not take the message
};

struct ResendResult {
  ResendOutcome outcome = ResendOutcome::kNoRecordedCards;
  // The order as recorded (number, item, buyer, quantity); its order id
  // when the order list still listed it.
  PendingOrder order;
  std::vector<DeliveredCard> cards;  // the recorded cards, in table order
  bool wasMarked = false;            // marked as not delivered when the resend began
  // The look at the order list after the message went out (kNoAnswer when
  // none was taken).
  ScanOutcome listing = ScanOutcome::kNoAnswer;
  bool stillListed = false;      // the order was listed as awaiting shipment
  bool consignAnswered = false;  // it was consigned and the marketplace answered
  bool markCleared = false;      // its not-delivered mark was removed
};

// The message of the first delivery, rebuilt from the recorded cards.
std::string ResendMessage(ShopContext& shop, const ResendResult& result);

// Fills result->order (number, item, buyer, quantity) and result->cards from
// the sent-cards table; false when it holds no card of the order.
bool LoadRecordedOrder(ShopContext& shop, const std::string& orderNumber, ResendResult* result);

// The automatic retry of an order marked as not delivered, still listed as
// `listed`, from the delivery cycle: its recorded cards go to the buyer
// again with the seller's nick `sellerNick`; once handed, the order is
// consigned and its mark cleared. No card is taken. `events` is told the
// outcome (OrderResent).
ResendResult RetryUndeliveredOrder(ShopContext& shop, const PendingOrder& listed,
                                   const std::string& sellerNick, MessageSender& sender,
                                   DeliveryEvents* events = nullptr);

// Resends the cards of `orderNumber` (GBK) with `sender` as described
// above; `events`, when given, is told the outcome.
ResendResult ResendOrder(ShopContext& shop, const std::string& orderNumber, MessageSender& sender,
                         DeliveryEvents* events = nullptr);

// What the seller asked to send again.
struct ResendRequest {
  std::vector<std::string> orderNumbers;  // the selected orders (GBK), in the grid's order
  bool allUndelivered = false;            // instead: every marked order still listed
};

struct ResendBatch {
  std::vector<ResendResult> results;  // the orders tried, in order
  // Orders not tried: after a message the IM client did not take or a
  // seller's nick that could not be read, once the program began to close,
  // or (every marked order) when the order list could not be read.
  std::vector<std::string> notTried;
  // Every marked order: the marked orders the order list no longer shows
  // (they stay marked), and how the look at the list went.
  std::vector<UndeliveredOrder> notListed;
  ScanOutcome listing = ScanOutcome::kNoAnswer;
  bool allUndelivered = false;  // the batch was "every marked order"
  int marked = 0;               // every marked order: how many were marked when it began

  int Resent() const;
};

// The selected orders, each resent as ResendOrder does, in the order given
// (an order named twice goes once). `stop`, when given, is read before
// each order.
ResendBatch ResendOrders(ShopContext& shop, const std::vector<std::string>& orderNumbers,
                         MessageSender& sender, DeliveryEvents* events = nullptr,
                         const std::atomic<bool>* stop = nullptr);

// Every order marked as not delivered that the order list still shows as
// awaiting shipment, in marking order: its recorded cards go to its buyer
// again, then it is consigned and its mark cleared. Nothing is sent when
// the list cannot be read.
ResendBatch ResendUndeliveredOrders(ShopContext& shop, MessageSender& sender,
                                    DeliveryEvents* events = nullptr,
                                    const std::atomic<bool>* stop = nullptr);

// ResendOrders or ResendUndeliveredOrders, as `request` asks.
ResendBatch RunResend(ShopContext& shop, const ResendRequest& request, MessageSender& sender,
                      DeliveryEvents* events = nullptr, const std::atomic<bool>* stop = nullptr);

}  // namespace autodeliver
