// The card import as one locked step; see checked_import.h.
#include "import/checked_import.h"

#include "store/store_lock.h"

namespace autodeliver {

CheckedImport ImportCheckedCards(ShopContext& shop, std::string_view itemName,
                                 const std::vector<CardLine>& lines, bool allowDuplicates,
                                 bool allowNoPassword, const ImportProgress& progress,
                                 const std::atomic<bool>* cancel) {
  CheckedImport out;
  SharedStoreGuard guard(shop);
  out.plan = CheckImport(shop, itemName, lines, allowDuplicates, allowNoPassword, &out.result.failure);
  if (out.plan) out.result = ImportStockCards(shop, itemName, out.plan->cards, progress, cancel);
  return out;
}

}  // namespace autodeliver
