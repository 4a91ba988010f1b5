// The recovery of deliveries cut short; see recovery.h.
#include "delivery/recovery.h"

#include <set>

#include "delivery/card_delivery.h"
#include "delivery/card_row_export.h"
#include "delivery/consign.h"
#include "delivery/events.h"
#include "delivery/message_sender.h"
#include "delivery/message_template.h"
#include "export/card_export.h"
#include "store/delivery_step.h"
#include "store/undelivered_orders.h"

namespace autodeliver {

namespace {

// True when the tables were flushed after the entry's cards were recorded:
// every card has reached the card.mdb step, which comes after the flush.
bool TablesFlushedFor(const LedgerEntry& entry) {
  if (!entry.recorded) return false;
  for (std::size_t i = 0; i < entry.exported.size(); ++i)
    if (!entry.exported[i] && !entry.exportFrom[i]) return false;
  return true;
}

}  // namespace

PendingOrder LedgerOrder(const DeliveryPlan& plan) {
  PendingOrder order;
  order.orderNumber = plan.orderNumber;
  order.itemTitle = plan.itemName;
  order.quantity = plan.quantity;
  order.buyerNick = plan.buyerNick;
  return order;
}

DeliveryRecovery::DeliveryRecovery(DeliveryJournal& journal, DeliveryEvents& events)
    : journal_(journal), shop_(journal.shop()), events_(events) {}

void DeliveryRecovery::Reload() { open_ = journal_.Unfinished(); }

void DeliveryRecovery::MarkForSeller(const LedgerEntry& entry) {
  const PendingOrder order = LedgerOrder(entry.plan);
  const Status marked = UndeliveredOrders(shop_).Mark(order.orderNumber, order.buyerNick, order.itemTitle);
  // Closed only once the mark is kept, so the seller always finds one.
  if (marked) journal_.Closed(order.orderNumber);
  events_.OrderRecovered(order, RecoveryAction::kMarkedForSeller, marked.ok(), marked);
}

void DeliveryRecovery::RecoverRecords(ApplyWhen when) {
  const std::vector<LedgerEntry> entries = journal_.Entries();
  // A card.mdb append cut short is settled first, so that other readers
  // find a whole file from the start, not only after the next delivery: at
  // start, and when an append may have been cut short since.
  bool appendBegun = false;
  for (const LedgerEntry& entry : entries)
    for (std::size_t i = 0; i < entry.exported.size(); ++i)
      appendBegun = appendBegun || (!entry.exported[i] && entry.exportFrom[i]);
  if (when == ApplyWhen::kNow || appendBegun) SettleCardExport(shop_);
  bool replayed = false;
  for (const LedgerEntry& entry : entries) {
    if (entry.Finished() || TablesFlushedFor(entry)) continue;
    // Recorded by this process: its rows are in the tables, waiting for the
    // flush of the next apply. (At start every one is checked.)
    if (when == ApplyWhen::kWhenDue && entry.recorded && journal_.RecordedHere(entry.plan.orderNumber))
      continue;
    replayed = true;
    // The plan is replayed: what it wrote before is found and not written
    // again. A recorded line does not tell that the tables reached the disk
    // (they are flushed only when the journal is applied), so a recorded
    // plan is replayed too until its cards are on the way to card.mdb. The
    // tables are flushed by the apply below.
    const std::string& number = entry.plan.orderNumber;
    const PendingOrder order = LedgerOrder(entry.plan);
    // A recorded plan's cards may have gone out: a row lost with the
    // unflushed writes is written again from the plan, and a plan that
    // cannot be completed now is never dropped, it goes to the seller.
    Status cause;
    const RecordOutcome outcome =
        RecordPlannedCards(shop_, entry.plan, &cause, TableFlush::kDeferred,
                           entry.recorded ? PlanState::kRecordedBefore : PlanState::kNew);
    if (entry.recorded) {
      if (!entry.closed && (outcome == RecordOutcome::kNothingWritten || outcome == RecordOutcome::kTooLong ||
                            outcome == RecordOutcome::kUnsettled))
        MarkForSeller(entry);
      continue;
    }
    switch (outcome) {
      case RecordOutcome::kRecorded: {
        const Status journaled = journal_.Recorded(number);
        events_.OrderRecovered(order, RecoveryAction::kRecordsCompleted, journaled.ok(), journaled);
        break;
      }
      case RecordOutcome::kNothingWritten:
      case RecordOutcome::kTooLong:
        // No card of the plan was taken and one is no longer in stock (or
        // the tables failed): only when the tables could be read is it safe
        // to drop, which RecordPlannedCards tells by kNothingWritten after a
        // successful look; a failed open leaves it for the next try.
        if (journal_.Closed(number))
          events_.OrderRecovered(order, RecoveryAction::kPlanDropped, true, Status());
        break;
      case RecordOutcome::kUnsure:
        events_.OrderRecovered(order, RecoveryAction::kRecordsCompleted, false, cause);
        break;
      case RecordOutcome::kUnsettled:
        MarkForSeller(entry);
        break;
    }
  }
  // The tables flushed, card.mdb completed, the finished orders cut: at
  // once after a replay, else when due.
  ApplyDeliveryJournal(journal_, nullptr, replayed ? ApplyWhen::kNow : when);
  Reload();
}

const LedgerEntry* DeliveryRecovery::Find(const std::string& orderNumber) const {
  for (const LedgerEntry& e : open_)
    if (e.plan.orderNumber == orderNumber && !e.consigned && !e.closed) return &e;
  return nullptr;
}

bool DeliveryRecovery::NeedsMessage(const std::string& orderNumber) const {
  const LedgerEntry* e = Find(orderNumber);
  return e && e->recorded && !e->handed;
}

DeliveryRecovery::Settled DeliveryRecovery::SettleListed(const PendingOrder& order,
                                                         const std::string& sellerNick,
                                                         MessageSender& sender) {
  const LedgerEntry* found = Find(order.orderNumber);
  if (!found || !found->recorded) return Settled::kWaiting;
  const LedgerEntry entry = *found;
  const PendingOrder about = LedgerOrder(entry.plan);
  if (!entry.handed) {
    std::vector<DeliveredCard> cards;
    for (const PlannedCard& c : entry.plan.cards) cards.push_back({c.sentNumber, c.cardPassword});
    const bool handed =
        sender.Send(sellerNick, entry.plan.buyerNick,
                    BuyerMessage(shop_, entry.plan.itemName, order.orderNumber, cards, about.quantity));
    events_.OrderRecovered(about, RecoveryAction::kResent, handed, Status());
    if (!handed) {
      UndeliveredOrders(shop_).Mark(order.orderNumber, entry.plan.buyerNick, entry.plan.itemName);
      journal_.Closed(order.orderNumber);
      Reload();
      return Settled::kImFailed;
    }
    journal_.Handed(order.orderNumber);
  }
  const bool answered = ConsignOrder(order);
  if (answered) journal_.Consigned(order.orderNumber);
  if (entry.handed)
    events_.OrderRecovered(about, RecoveryAction::kConsignRetried, answered, Status());
  else
    events_.OrderConsigned(order, answered);
  Reload();
  return answered ? Settled::kDone : Settled::kWaiting;
}

void DeliveryRecovery::SettleUnlisted(const std::vector<PendingOrder>& listed) {
  std::set<std::string> numbers;
  for (const PendingOrder& o : listed) numbers.insert(o.orderNumber);
  Reload();
  const std::vector<LedgerEntry> entries = open_;
  for (const LedgerEntry& entry : entries) {
    if (entry.consigned || entry.closed || !entry.recorded || numbers.count(entry.plan.orderNumber)) continue;
    if (!entry.handed) {
      MarkForSeller(entry);
    } else if (journal_.Consigned(entry.plan.orderNumber)) {
      events_.OrderRecovered(LedgerOrder(entry.plan), RecoveryAction::kFoundConsigned, true, Status());
    }
  }
  Reload();
}

void RecoverDeliveryRecords(ShopContext& shop, DeliveryEvents* events) {
  DeliveryEvents none;
  DeliveryJournal journal(shop);
  DeliveryRecovery recovery(journal, events ? *events : none);
  recovery.RecoverRecords();
}

}  // namespace autodeliver
