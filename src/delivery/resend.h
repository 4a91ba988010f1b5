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
// The outcome is told to the delivery events (OrderResent), which the
// delivery log writes down.
//
// Thread safety: runs on the delivery thread, never beside a delivery cycle
// (DeliveryController::StartResend sees to that).
#pragma once

#include <string>
#include <vector>

#include "delivery/card_delivery.h"
#include "delivery/message_sender.h"
#include "market/order_scan.h"
#include "market/scan_outcome.h"

namespace autodeliver {

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
std::string ResendMessage(const ResendResult& result);

// Fills result->order (number, item, buyer, quantity) and result->cards from
// the sent-cards table; false when it holds no card of the order.
bool LoadRecordedOrder(const std::string& orderNumber, ResendResult* result);

// The automatic retry of an order marked as not delivered, still listed as
// `listed`, from the delivery cycle: its recorded cards go to the buyer
// again with the seller's nick `sellerNick`; once handed, the order is
// consigned and its mark cleared. No card is taken. `events` is told the
// outcome (OrderResent).
ResendResult RetryUndeliveredOrder(const PendingOrder& listed, const std::string& sellerNick,
                                   MessageSender& sender, DeliveryEvents* events = nullptr);

// Resends the cards of `orderNumber` (GBK) with `sender` as described
// above; `events`, when given, is told the outcome.
ResendResult ResendOrder(const std::string& orderNumber, MessageSender& sender,
                         DeliveryEvents* events = nullptr);

}  // namespace autodeliver
