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
// (so they are never given to another buyer), the order stays listed as
// awaiting shipment and is marked as not delivered to its buyer
// (store/undelivered_orders.h) for a resend. The cycle then ends at once:
// with the IM client away every further order would only have its cards
// taken and stranded the same way, so later orders are left untouched for a
// later cycle.
//
// Every step of an order's delivery goes into the delivery journal
// (journal.h) before its effect: the message is followed by the
// "handed" line, the consign by the "consigned" one. Each cycle begins with
// the recovery of deliveries cut short (recovery.h): plans are
// completed in the tables, and an order the journal holds unfinished is
// finished from it while listed (sent again with the same cards, or only
// consigned), never delivered anew. A consign that got no answer is retried
// on later cycles without another message.
//
// The stock, sent-cards, items and settings tables are held open for the
// cycle (store/delivery_step.h: DeliveryTables). Whether each listed order
// was delivered before and whether its item is monitored is looked up for
// all of them in one hold at the start; each delivery looks its order up
// again in the hold that takes its cards, and passes it by as delivered or
// not monitored when another program or the window recorded it or removed
// its item meanwhile. Between two holds the tables are free for the window
// and other programs.
//
// Order rules (order_rules.h) are asked for every new order of a monitored
// item before anything else is done for it: an order they hold waits, with
// no card taken, and the cycle goes on with the next order.
// With an ImWatch (im_watch.h) kept across cycles, a failed message makes
// later cycles take no card until the IM client answers again, and orders
// marked as not delivered are retried with their recorded cards.
//
// Each cycle also gives a sign of the login (login_watch.h): the order page
// read as the sign-in page, or the profile page read without the nick, point
// to an expired login.
//
// Thread safety: runs on the delivery thread; at most one cycle at a time
// (DeliveryController sees to that).
#pragma once

#include <atomic>

#include "delivery/im_watch.h"
#include "delivery/login_watch.h"
#include "delivery/message_sender.h"
#include "io/status.h"
#include "market/scan_outcome.h"

namespace autodeliver {

class ShopContext;
class DeliveryEvents;
class DeliveryTables;
class OrderRuleGate;
}  // namespace autodeliver

namespace autodeliver {

struct CycleResult {
  int ordersListed = 0;           // orders the scan returned
  int ordersDelivered = 0;        // orders whose cards were taken and recorded
  int ordersConsigned = 0;        // orders posted as shipped
  bool stopped = false;           // the cycle stopped early on request
  int ordersSkipped = 0;          // orders passed by (delivered before, not monitored)
  int ordersWaiting = 0;          // orders left for a later cycle with no card taken
  bool endedAtImFailure = false;  // a message was not handed over; the cycle ended there
  Status notWritten;              // an order waited because its cards could not be written: the cause
  int ordersHeld = 0;             // orders the order rules held back
  ScanOutcome scanOutcome = ScanOutcome::kNoAnswer;
  LoginSign loginSign = LoginSign::kNone;
  bool loginLooksExpired = false;  // the login watch's decision after this cycle
  int ordersRetried = 0;           // undelivered orders whose recorded cards got through now
  bool imNotAnswering = false;     // after the cycle the IM client counts as away (ImWatch)
  int ordersUndelivered = 0;       // orders marked as not delivered after the cycle (with an ImWatch)
};

// Runs one cycle on `shop`. `stopRequested` is read before every order: once it is
// set, the order in hand is finished and no further order is begun.
// `events`, when given, is told each order's fate as it happens.
// `loginWatch`, when given, takes the cycle's login sign; a change of its
// decision is told to `events` before the cycle's end. `imWatch`, when
// given, keeps the IM client's state and the retries across cycles.
// `rules`, when given, applies the order rules (tests give one with their
// own clock); without it the rules of the data folder apply with the system
// clock. `tables`, when given, are the delivery session's tables, kept
// open from one cycle to the next by the caller (made from `shop`); without
// them the cycle opens its own and closes them at its end.
CycleResult RunDeliveryCycle(ShopContext& shop, MessageSender& sender, const std::atomic<bool>& stopRequested,
                             DeliveryEvents* events = nullptr, LoginWatch* loginWatch = nullptr,
                             ImWatch* imWatch = nullptr, OrderRuleGate* rules = nullptr,
                             DeliveryTables* tables = nullptr);

}  // namespace autodeliver
