// A card import made as one step against every other writer of the data
// folder: the duplicate check (import_check.h) and the append of the cards
// it passes (store/seller_actions.h) run under one hold of the shared store
// lock (store/store_lock.h), which the delivery and the other program's
// imports take too. Two imports of the same cards at once, from the window
// and from the table tool, store them once: the second one's check sees the
// first one's cards.
//
// The window shows a preview from an earlier check while the seller
// decides; the check is made again here, so cards that arrived in between
// become duplicates and stay with the seller like the others.
//
// Thread safety: may be called from any thread; it waits for the lock.
#pragma once

#include <atomic>
#include <optional>
#include <string_view>
#include <vector>

#include "import/card_lines.h"
#include "import/import_check.h"
#include "store/seller_actions.h"

namespace autodeliver {

struct CheckedImport {
  // The check made under the lock; nullopt when a table could not be read,
  // and then nothing was written and result.failure tells why.
  std::optional<ImportPlan> plan;
  StockImport result;
};

// Checks `lines` against the stock of `itemName` and the sent cards, and
// appends the cards the check lets through, as ImportStockCards does (with
// `progress` and `cancel`), all under the shared store lock. The two
// allowances are CheckImport's.
CheckedImport ImportCheckedCards(ShopContext& shop, std::string_view itemName,
                                 const std::vector<CardLine>& lines, bool allowDuplicates,
                                 bool allowNoPassword, const ImportProgress& progress = {},
                                 const std::atomic<bool>* cancel = nullptr);

}  // namespace autodeliver
