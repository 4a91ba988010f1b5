// The export of one planned card into card.mdb at most once, whatever
// moment a crash or a power cut picks.
//
// Before the row is appended, the journal records card.mdb's row count
// (an "exporting" line); after it, an "exported" line. A card that has an
// "exporting" line but no "exported" one was cut short somewhere between the
// two: the rows from the recorded count on are searched for the card's row,
// and when it is there it only gets its "exported" line, so no card is
// written twice; when it is not, the append runs again.
//
// Thread safety: used on the delivery thread only, like the journal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "delivery/journal.h"

namespace autodeliver {

// Exports card `index` of the plan of `orderNumber` as described above.
// `exportFrom` is the row count of the card's last "exporting" line, if it
// has one. True when the row is in card.mdb and the journal says so.
bool ExportPlannedCardOnce(DeliveryJournal& journal, const std::string& orderNumber, std::size_t index,
                           const PlannedCard& card, std::optional<std::uint32_t> exportFrom);

}  // namespace autodeliver
