// The journal applied: the tables and card.mdb brought up to date with the
// delivery journal (journal.h), whatever moment a crash or a power cut picks.
//
// The tables (written by the deliveries without a flush) are flushed first,
// so that neither a card.mdb row nor the journal's compaction ever gets to
// the disk ahead of the sent rows it stands for. Then every recorded card
// missing from card.mdb is appended, all in one change of the file: before
// it, the journal records card.mdb's row count (one flushed "exporting"
// write for all the cards); after it, the "exported" lines. A card that has
// an "exporting" line but no "exported" one was cut short somewhere between
// the two: the rows from the recorded count on are searched for the card's
// row, and when it is there it only gets its "exported" line, so no card is
// written twice; when it is not, it is appended again. Last, the finished
// orders are cut from the journal.
//
// Thread safety: used on the delivery thread only, like the journal.
#pragma once

#include <cstddef>
#include <vector>

#include "delivery/journal.h"
#include "io/status.h"

namespace autodeliver {

class DeliveryTables;

// Exports the cards of the recorded orders of `entries` not yet known to be
// in card.mdb, as described above. Ok when every such card is in card.mdb
// and the journal says so (or there was none); a failure leaves the rest to
// the next call and tells the first cause (card.mdb or the journal).
Status ExportRecordedCards(DeliveryJournal& journal, const std::vector<LedgerEntry>& entries);

// When the journal is applied.
enum class ApplyWhen {
  kNow,      // whatever the journal holds
  kWhenDue,  // only when it holds more than kApplyBound orders to apply or cut
};

// The most orders the journal holds before a cycle that delivered applies
// it anyway. A cycle that delivered nothing (the shop idle) applies it
// always, so in a quiet shop card.mdb is seconds behind; in a busy one the
// bound keeps the replay after a crash short (64 plans of a few hundred
// bytes: well under a second to read and check) and the tables' and
// card.mdb's flushes at about one per file for 64 orders.
inline constexpr std::size_t kApplyBound = 64;

// True when the journal holds more than kApplyBound orders whose cards are
// not yet all in card.mdb or that are finished (orders open for another
// reason, such as a consign without an answer, do not count: applying would
// not make them go).
bool DeliveryJournalDue(DeliveryJournal& journal);

// Applies the journal as described above; what the cycle runs at its end and
// the recovery before the cycle. Cheap when nothing is left to apply (the
// journal's entries are kept in memory) and, with kWhenDue, when the journal
// is within its bound. Ok when nothing is left for a later call, or the
// apply is not due; else the first failure's cause (a table flush,
// card.mdb, the journal). With `tables`, the tables are flushed through the
// delivery session's held tables (store/delivery_step.h) instead of opening
// them again.
Status ApplyDeliveryJournal(DeliveryJournal& journal, DeliveryTables* tables = nullptr,
                            ApplyWhen when = ApplyWhen::kNow);

}  // namespace autodeliver
