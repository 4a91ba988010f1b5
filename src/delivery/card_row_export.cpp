// The once-only card.mdb export; see card_row_export.h.
#include "delivery/card_row_export.h"

#include "export/card_export.h"

namespace autodeliver {

bool ExportPlannedCardOnce(DeliveryJournal& journal, const std::string& orderNumber, std::size_t index,
                           const PlannedCard& card, std::optional<std::uint32_t> exportFrom) {
  if (exportFrom) {
    const std::optional<bool> there =
        CardRowExported(orderNumber, card.sentNumber, card.cardPassword, *exportFrom);
    if (!there) return false;  // unreadable now: a later recovery looks again
    if (*there) return journal.Exported(orderNumber, index);
  }
  const std::optional<std::uint32_t> before = CardExportRowCount();
  if (!before || !journal.Exporting(orderNumber, index, *before)) return false;
  if (!ExportCardToAccess(orderNumber, card.sentNumber, card.cardPassword)) return false;
  DeliveryStepBoundary("row-exported");
  return journal.Exported(orderNumber, index);
}

}  // namespace autodeliver
