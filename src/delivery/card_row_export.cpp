// The journal applied to the tables and card.mdb; see card_row_export.h.
#include "delivery/card_row_export.h"

#include <cstdint>
#include <optional>
#include <string>

#include "export/card_export.h"
#include "store/delivery_step.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"

namespace autodeliver {

Status ExportRecordedCards(DeliveryJournal& journal, const std::vector<LedgerEntry>& entries) {
  Status status;
  // Keeps the first failure as the cause.
  auto note = [&status](Status s) {
    if (!s && status) status = std::move(s);
  };
  const std::string cardFile = journal.shop().ProgramDir() + "/card.mdb";
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
        const std::optional<bool> found = CardRowExported(journal.shop(), plan.orderNumber, card.sentNumber,
                                                          card.cardPassword, *entry.exportFrom[i]);
        if (!found) {  // unreadable now: a later call looks again
          note(Status::Corrupt(cardFile, "its rows could not be read"));
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
    // One opening of card.mdb: the exporting line, with the row count read
    // under the file's lock, is flushed just before the rows go in.
    Status appended = ExportCardsToAccess(journal.shop(), rows, [&journal, &missing](std::uint32_t before) {
      return journal.Exporting(missing, before);
    });
    if (appended) {
      DeliveryStepBoundary("row-exported");
      there.insert(there.end(), missing.begin(), missing.end());
    } else {
      note(std::move(appended));
    }
  }
  if (!there.empty()) note(journal.Exported(there));
  return status;
}

bool DeliveryJournalDue(DeliveryJournal& journal) {
  const DeliveryJournal::Counts counts = journal.OrderCounts();
  return counts.unapplied + counts.finished > kApplyBound;
}

Status ApplyDeliveryJournal(DeliveryJournal& journal, DeliveryTables* tables, ApplyWhen when) {
  if (when == ApplyWhen::kWhenDue && !DeliveryJournalDue(journal)) return Status();
  const std::vector<LedgerEntry> entries = journal.Entries();
  bool toExport = false, anyFinished = false;
  for (const LedgerEntry& e : entries) {
    toExport = toExport || (e.recorded && !e.AllExported());
    anyFinished = anyFinished || e.Finished();
  }
  if (!toExport && !anyFinished) return Status();
  // The tables reach the disk before anything that stands for them.
  if (Status flushed = tables ? tables->FlushTables() : FlushDeliveryTables(journal.shop()); !flushed)
    return flushed;
  DeliveryStepBoundary("tables-flushed");
  Status status = toExport ? ExportRecordedCards(journal, entries) : Status();
  Status compacted = journal.Compact();
  if (status) status = std::move(compacted);
  return status;
}

}  // namespace autodeliver
