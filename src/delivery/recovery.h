// The recovery of deliveries cut short, from the delivery journal
// (journal.h) and the tables, so that no card is lost or given to
// two orders and no order is left half done.
//
// RecoverRecords (at start and before every cycle, no network): a plan whose
// tables are not known to be flushed (journal.h: they are flushed when the
// journal is applied), and that this process did not record itself since it
// read the journal (at start: every such plan), is run again
// (store/delivery_step.h), which records
// the planned cards still in stock and takes those recorded but still in
// stock; a plan none of whose cards was taken and that can no longer be had
// is dropped (its cards stay where they are); one that can neither complete
// nor be dropped is marked for the seller (store/undelivered_orders.h), as
// is a recorded one that can no longer complete. The journal is then applied
// (card_row_export.h): the tables flushed, every recorded card missing from
// card.mdb written there, the finished orders cut from the journal.
//
// In the cycle, for an order still listed as awaiting shipment: one whose
// cards are recorded but not handed is sent again with the same cards (the
// buyer may see the same message twice, never other cards); one handed but
// not consigned is consigned, without another message, and retried on later
// cycles while the consign gets no answer. For orders no longer listed: one
// recorded but not handed is marked for the seller; one handed is taken as
// consigned.
//
// Thread safety: used on the delivery thread only.
#pragma once

#include <string>
#include <vector>

#include "delivery/card_row_export.h"
#include "delivery/journal.h"
#include "market/order_scan.h"

namespace autodeliver {

class ShopContext;

class DeliveryEvents;
class MessageSender;

// The order a journal entry is about (orderNumber, itemTitle, quantity,
// buyerNick; no orderId).
PendingOrder LedgerOrder(const DeliveryPlan& plan);

class DeliveryRecovery {
 public:
  // Works on the shop whose journal `journal` is.
  DeliveryRecovery(DeliveryJournal& journal, DeliveryEvents& events);

  // The store side, as above. The journal is applied as `when` says, and at
  // once when a plan was replayed.
  void RecoverRecords(ApplyWhen when = ApplyWhen::kNow);

  // The unfinished entry of an order (as of the last RecoverRecords or
  // settle), or null.
  const LedgerEntry* Find(const std::string& orderNumber) const;

  enum class Settled {
    kDone,      // sent and consigned, or consigned
    kWaiting,   // not recorded yet, or the consign got no answer: a later cycle
    kImFailed,  // the message was not handed over: marked for the seller
  };
  // Finishes a listed order's entry: sends its recorded cards when they were
  // not handed (needs `sellerNick`), consigns it. `order` is as listed.
  Settled SettleListed(const PendingOrder& order, const std::string& sellerNick, MessageSender& sender);
  // True when the entry needs a message (and so the seller's nick).
  bool NeedsMessage(const std::string& orderNumber) const;

  // Settles the entries of orders the full scan no longer lists.
  void SettleUnlisted(const std::vector<PendingOrder>& listed);

 private:
  void Reload();
  void MarkForSeller(const LedgerEntry& entry);
  DeliveryJournal& journal_;
  ShopContext& shop_;  // the journal's
  DeliveryEvents& events_;
  std::vector<LedgerEntry> open_;
};

// RecoverRecords with the shop's journal and no observer but `events`
// (may be null); what the program runs at start.
void RecoverDeliveryRecords(ShopContext& shop, DeliveryEvents* events);

}  // namespace autodeliver
