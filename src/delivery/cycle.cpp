// One delivery cycle; see cycle.h.
#include "delivery/cycle.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "delivery/card_delivery.h"
#include "delivery/card_row_export.h"
#include "delivery/chat_address.h"
#include "delivery/consign.h"
#include "delivery/events.h"
#include "delivery/journal.h"
#include "delivery/order_rules.h"
#include "delivery/recovery.h"
#include "delivery/resend.h"
#include "market/login.h"
#include "market/scan_outcome.h"
#include "store/delivery_step.h"
#include "store/undelivered_orders.h"

namespace autodeliver {
namespace {

// Whether this cycle may use the IM client: always, unless a message failed
// before (the ImWatch counts the client as away). Then a look at the client
// decides; a sender that cannot tell lets the retry of an undelivered order
// (recorded cards, no new card) find out, and new orders wait for it. With
// no such order listed, a new order's message is the only way to find out.
class ImGate {
 public:
  ImGate(ShopContext& shop, ImWatch* watch, MessageSender& sender, const std::vector<PendingOrder>& listed)
      : watch_(watch) {
    if (!watch_) return;
    for (const UndeliveredOrder& mark : UndeliveredOrders(shop).List()) marked_.insert(mark.orderNumber);
    if (!watch_->away()) return;
    switch (sender.ProbeClient()) {
      case ClientPresence::kPresent:
        watch_->MarkBack();
        return;
      case ClientPresence::kAbsent:
        retries_ = newCards_ = false;
        return;
      case ClientPresence::kUnknown:
        newCards_ = false;
        for (const PendingOrder& order : listed)
          if (IsMarked(order.orderNumber) && !watch_->RetriesUsedUp(order.orderNumber)) return;
        newCards_ = true;
        return;
    }
  }

  bool IsMarked(const std::string& orderNumber) const { return marked_.count(orderNumber) > 0; }
  bool RetryAllowed() const { return retries_; }
  bool NewCardsAllowed() const { return newCards_; }
  // A message got through: the client is back.
  void ClientAnswered() {
    if (watch_) watch_->MarkBack();
    retries_ = newCards_ = true;
  }

 private:
  ImWatch* watch_;
  std::set<std::string> marked_;
  bool retries_ = true;
  bool newCards_ = true;
};

// What the sent cards and the monitored items say of a listed order.
struct Known {
  bool delivered = false;  // a sent card of the order is recorded
  bool monitored = false;  // not delivered, and its item title is a monitored item
};

Known LookUp(DeliveryTables& tables, const PendingOrder& order) AD_REQUIRES(tables.shop().StoreLock()) {
  Known k;
  k.delivered = tables.SentCardExists(order.orderNumber);
  k.monitored = !k.delivered && tables.ItemExists(order.itemTitle);
  return k;
}

}  // namespace

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
    case WaitReason::kBuyerNickUnpassable:
      return "the buyer's nick holds characters that cannot reach the IM client";
    case WaitReason::kSellerNickUnpassable:
      return "the seller's nick holds characters that cannot reach the IM client";
    case WaitReason::kNotWritten:
      return "its cards could not be written to the disk";
    case WaitReason::kValueTooLong:
      return "a value of the order is longer than the sent-cards table holds";
    case WaitReason::kImNotAnswering:
      return "the IM client does not answer";
    case WaitReason::kRetriesUsedUp:
      return "its undelivered message failed every automatic retry";
  }
  return "unknown";
}

CycleResult RunDeliveryCycle(ShopContext& shop, MessageSender& sender, const std::atomic<bool>& stopRequested,
                             DeliveryEvents* events, LoginWatch* loginWatch, ImWatch* imWatch,
                             OrderRuleGate* rules, DeliveryTables* sessionTables) {
  DeliveryEvents none;
  DeliveryEvents& observer = events ? *events : none;
  CycleResult result;
  observer.CycleStarted();
  // Deliveries cut short before are completed (or given up) in the tables
  // before any new card is taken.
  DeliveryJournal journal(shop);
  DeliveryRecovery recovery(journal, observer);
  recovery.RecoverRecords(ApplyWhen::kWhenDue);
  const OrderScan scan = ScanOrders();
  result.scanOutcome = scan.outcome;
  result.ordersListed = static_cast<int>(scan.orders.size());
  observer.OrdersScanned(scan);
  OrderRuleGate dataFolderRules(shop);
  OrderRuleGate& ruleGate = rules ? *rules : dataFolderRules;
  ruleGate.BeginCycle();
  bool signedIn = scan.outcome == ScanOutcome::kListed;
  bool signedOut = scan.outcome == ScanOutcome::kSignInPage;
  ImGate gate(shop, imWatch, sender, scan.orders);
  std::set<std::string> retried;  // each undelivered order at most once per cycle
  // The stock, sent and items tables stay open for the cycle (for the
  // session, when its tables are handed in). Whether each
  // listed order was delivered before and whether its item is monitored is
  // looked up for all of them in one hold; an order's delivery looks it up
  // again in the hold that takes its cards (DeliverCards), so a write made
  // since by another program or the window is still seen. An order listed
  // again after this cycle tried to deliver it is looked up at its turn.
  std::optional<DeliveryTables> ownTables;
  if (!sessionTables) ownTables.emplace(shop);
  DeliveryTables& tables = sessionTables ? *sessionTables : *ownTables;
  std::vector<Known> known;
  if (!scan.orders.empty()) {
    DeliveryTables::Hold hold(tables);
    for (const PendingOrder& order : scan.orders) known.push_back(LookUp(tables, order));
  }
  std::set<std::string> tried;  // orders whose cards this cycle tried to take
  std::size_t position = 0;

  for (const PendingOrder& order : scan.orders) {
    const std::size_t index = position++;
    if (stopRequested.load()) {
      result.stopped = true;
      break;
    }
    observer.OrderSeen(order);
    // An order the journal holds unfinished is finished from the journal,
    // with its recorded cards; no new card is taken for it.
    const LedgerEntry* unfinished = recovery.Find(order.orderNumber);
    if (unfinished && !unfinished->recorded) {
      ++result.ordersWaiting;
      observer.OrderWaiting(order, WaitReason::kRecordFailed, 0);
      continue;
    }
    if (unfinished && !recovery.NeedsMessage(order.orderNumber)) {
      if (recovery.SettleListed(order, std::string(), sender) == DeliveryRecovery::Settled::kDone)
        ++result.ordersConsigned;
      continue;
    }
    const bool retry = !unfinished && gate.IsMarked(order.orderNumber);
    if (retry) {
      // Its recorded cards go out again, as below, unless the client is
      // away or the retries are used up.
      if (imWatch->RetriesUsedUp(order.orderNumber) || !retried.insert(order.orderNumber).second) {
        ++result.ordersWaiting;
        observer.OrderWaiting(order, WaitReason::kRetriesUsedUp, 0);
        continue;
      }
      if (!gate.RetryAllowed()) {
        ++result.ordersWaiting;
        observer.OrderWaiting(order, WaitReason::kImNotAnswering, 0);
        continue;
      }
    } else if (unfinished) {
      // Its cards go out again: the chat must be addressable, as below.
    } else {
      Known k = known[index];
      if (tried.count(order.orderNumber) > 0) {
        DeliveryTables::Hold hold(tables);
        k = LookUp(tables, order);
      }
      if (k.delivered || !k.monitored) {
        ++result.ordersSkipped;
        observer.OrderSkipped(order, k.delivered ? SkipReason::kAlreadyDelivered : SkipReason::kNotMonitored);
        continue;
      }
    }
    // The order rules may hold a new order back before any card is taken.
    if (!unfinished && !retry) {
      const OrderRuleGate::Verdict verdict = ruleGate.Check(order);
      if (verdict.hold) {
        ++result.ordersHeld;
        observer.OrderHeld(order, *verdict.hold, verdict.news);
        continue;
      }
    }
    // After a failed message no card is taken until the client answers.
    if (!unfinished && !retry && !gate.NewCardsAllowed()) {
      ++result.ordersWaiting;
      observer.OrderWaiting(order, WaitReason::kImNotAnswering, 0);
      continue;
    }
    // A nick that would not reach the IM client as one piece never goes on
    // its command line; taking cards now would strand them.
    if (!IsPassableChatNick(order.buyerNick)) {
      ++result.ordersWaiting;
      observer.OrderWaiting(order, WaitReason::kBuyerNickUnpassable, 0);
      continue;
    }
    const SellerNickRead nick = ReadSellerNick();
    if (nick.outcome == NickOutcome::kRead) signedIn = true;
    if (nick.outcome == NickOutcome::kNotOnPage || nick.outcome == NickOutcome::kSignInPage) signedOut = true;
    // Without the seller's nick the chat cannot be addressed: taking cards
    // now would strand them, so the order waits for a later cycle.
    if (nick.nick.empty()) {
      ++result.ordersWaiting;
      observer.OrderWaiting(order, WaitReason::kSellerNickUnreadable, 0);
      continue;
    }
    if (!IsPassableChatNick(nick.nick)) {
      ++result.ordersWaiting;
      observer.OrderWaiting(order, WaitReason::kSellerNickUnpassable, 0);
      continue;
    }
    if (retry) {
      imWatch->CountAttempt(order.orderNumber);
      const ResendResult again = RetryUndeliveredOrder(shop, order, nick.nick, sender, &observer);
      if (again.outcome == ResendOutcome::kNotHanded) {
        imWatch->MarkAway();
        result.endedAtImFailure = true;
        break;
      }
      if (again.outcome == ResendOutcome::kResent) {
        gate.ClientAnswered();
        imWatch->Forget(order.orderNumber);
        ++result.ordersRetried;
        ++result.ordersConsigned;
      }
      continue;
    }
    if (unfinished) {
      const DeliveryRecovery::Settled settled = recovery.SettleListed(order, nick.nick, sender);
      if (settled == DeliveryRecovery::Settled::kImFailed) {
        result.endedAtImFailure = true;
        break;
      }
      if (settled == DeliveryRecovery::Settled::kDone) ++result.ordersConsigned;
      continue;
    }
    tried.insert(order.orderNumber);
    const CardDelivery delivery = DeliverCards(journal, tables, order.orderNumber, order.itemTitle,
                                               order.buyerNick, std::string(), order.quantity);
    if (!delivery.message && delivery.foundSince != FoundSince::kNothing) {
      // Taken care of since the look above (another program, the window).
      ++result.ordersSkipped;
      observer.OrderSkipped(order, delivery.foundSince == FoundSince::kDelivered
                                       ? SkipReason::kAlreadyDelivered
                                       : SkipReason::kNotMonitored);
      continue;
    }
    if (!delivery.message) {  // waits for stock or for its online cards
      ++result.ordersWaiting;
      if (delivery.waitReason == WaitReason::kNotWritten) {
        result.notWritten = delivery.cause;
        observer.OrderNotWritten(order, delivery.cause);
      } else {
        observer.OrderWaiting(order, delivery.waitReason, delivery.stockLeft);
      }
      continue;
    }
    ++result.ordersDelivered;
    ruleGate.Delivered(order, static_cast<int>(delivery.cards.size()));
    observer.CardsDelivered(order, delivery.cards);
    observer.StockAfterDelivery(order, delivery.stockLeft - static_cast<int>(delivery.cards.size()));
    // The cards are recorded now; the order leaves the list only when they
    // reached the buyer.
    const bool handed = sender.Send(nick.nick, order.buyerNick, *delivery.message);
    if (!handed) {
      // The mark is what a resend goes by; it is written before anyone is
      // told, so whoever looks finds it.
      UndeliveredOrders(shop).Mark(order.orderNumber, order.buyerNick, order.itemTitle);
      // Marked for a resend by the seller: the journal leaves it alone.
      journal.Closed(order.orderNumber);
      if (imWatch) imWatch->MarkAway();
      result.endedAtImFailure = true;
      observer.MessageHanded(order, false);
      break;
    }
    // Once handed, a crash or a consign without an answer leads to a
    // consign on a later cycle, never to another message (the line is not
    // flushed: after a power cut the buyer may get the same cards again).
    journal.Handed(order.orderNumber);
    gate.ClientAnswered();
    observer.MessageHanded(order, true);
    const bool answered = ConsignOrder(order);
    if (answered) journal.Consigned(order.orderNumber);
    observer.OrderConsigned(order, answered);
    ++result.ordersConsigned;
  }
  ruleGate.EndCycle(scan.orders,
                    scan.outcome == ScanOutcome::kListed && !result.stopped && !result.endedAtImFailure);
  // Orders the journal holds that the full list no longer shows.
  if (scan.outcome == ScanOutcome::kListed && !result.stopped && !result.endedAtImFailure)
    recovery.SettleUnlisted(scan.orders);

  // The deliveries reach the disk in the tables and card.mdb, one flush per
  // file: once the shop is idle (a cycle that delivered nothing), or when
  // the journal holds more than its bound of orders, or at a cycle cut
  // short (stopped, or the IM client not answering); until then each
  // order is on the disk in the journal, and its rows are in the tables for
  // every reader. The window refreshes after this.
  const bool applyNow = result.ordersDelivered == 0 || result.stopped || result.endedAtImFailure;
  ApplyDeliveryJournal(journal, &tables, applyNow ? ApplyWhen::kNow : ApplyWhen::kWhenDue);

  if (imWatch) {
    result.imNotAnswering = imWatch->away();
    result.ordersUndelivered = static_cast<int>(UndeliveredOrders(shop).List().size());
  }

  result.loginSign = signedOut ? LoginSign::kSignedOut : signedIn ? LoginSign::kSignedIn : LoginSign::kNone;
  if (loginWatch) {
    const LoginWatch::Change change = loginWatch->AfterCycle(result.loginSign);
    result.loginLooksExpired = loginWatch->LooksExpired();
    if (change != LoginWatch::Change::kNone)
      observer.LoginStateChanged(change == LoginWatch::Change::kExpired);
  }
  observer.CycleEnded(result);
  return result;
}

}  // namespace autodeliver
