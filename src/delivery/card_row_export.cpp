// The journal applied to the tables and card.mdb; see card_row_export.h.
#include "delivery/card_row_export.h"

#include "export/card_export.h"
#include "store/delivery_step.h"

namespace autodeliver {

bool ExportRecordedCards(DeliveryJournal& journal, const std::vector<LedgerEntry>& entries) {
  bool ok = true;
  std::vector<PlannedCardRef> there;    // in card.mdb: only the line is missing
  std::vector<PlannedCardRef> missing;  // to append
  std::vector<CardExportRow> rows;
  for (const LedgerEntry& entry : entries) {
    // An order given up after its record (marked for the seller) keeps its
    // cards recorded: they belong in card.mdb as well.
    if (!entry.recorded) continue;
    const DeliveryPlan& plan = entry.plan;
    for (std::size_t i = 0; i < plan.cards.size() && i < entry.exported.size(); ++i) {
      if (entry.exported[i]) continue;
      const PlannedCard& card = plan.cards[i];
      if (entry.exportFrom[i]) {
        const std::optional<bool> found =
            CardRowExported(plan.orderNumber, card.sentNumber, card.cardPassword, *entry.exportFrom[i]);
        if (!found) {  // unreadable now: a later call looks again
          ok = false;
          continue;
        }
        if (*found) {
          there.push_back({plan.orderNumber, i});
          continue;
        }
      }
      missing.push_back({plan.orderNumber, i});
      rows.push_back({plan.orderNumber, card.sentNumber, card.cardPassword});
    }
  }
  if (!missing.empty()) {
    const std::optional<std::uint32_t> before = CardExportRowCount();
    if (before && journal.Exporting(missing, *before) && ExportCardsToAccess(rows)) {
      DeliveryStepBoundary("row-exported");
      there.insert(there.end(), missing.begin(), missing.end());
    } else {
      ok = false;
    }
  }
  if (!there.empty()) ok = journal.Exported(there) && ok;
  return ok;
}

bool ApplyDeliveryJournal(DeliveryJournal& journal) {
  const std::vector<LedgerEntry> entries = journal.Entries();
  bool toExport = false, anyFinished = false;
  for (const LedgerEntry& e : entries) {
    toExport = toExport || (e.recorded && !e.AllExported());
    anyFinished = anyFinished || e.Finished();
  }
  if (!toExport && !anyFinished) return true;
  // The tables reach the disk before anything that stands for them.
  if (!FlushDeliveryTables()) return false;
  DeliveryStepBoundary("tables-flushed");
  bool ok = !toExport || ExportRecordedCards(journal, entries);
  if (toExport) {
    anyFinished = false;
    for (const LedgerEntry& e : journal.Entries()) anyFinished = anyFinished || e.Finished();
  }
  if (anyFinished) ok = journal.Compact() && ok;
  return ok;
}

}  // namespace autodeliver
