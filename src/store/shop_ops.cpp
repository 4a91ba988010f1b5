// The seller's operations; see shop_ops.h.
#include "store/shop_ops.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

#include "store/data_paths.h"
#include "store/stock_selection.h"
#include "store/store_lock.h"
#include "store/store_ops.h"
#include "store/table_access.h"

namespace autodeliver {

namespace {

// Reads the item at `recordNumber`, lets `change` edit it and writes it
// back, all under one hold of the store lock.
template <typename Change>
bool ChangeItemAt(int recordNumber, Change change) {
  StoreGuard guard;
  std::optional<MonitoredItem> item = ReadItemAt(recordNumber);
  if (!item) return false;
  change(*item);
  return WriteItemAt(recordNumber, *item);
}

}  // namespace

// ---- monitored items

AddItemResult AddMonitoredItem(std::string_view name) {
  StoreGuard guard;
  if (ItemExists(name)) return AddItemResult::kAlreadyMonitored;
  MonitoredItem item;
  item.name = std::string(name);
  item.remark.clear();
  item.purchaseLimit = 0;
  item.needsCard = true;
  return AppendItem(item) ? AddItemResult::kAdded : AddItemResult::kNotWritten;
}

bool RenameItem(int recordNumber, std::string_view shownName, std::string_view newName) {
  StoreGuard guard;
  const bool written =
      ChangeItemAt(recordNumber, [&](MonitoredItem& item) { item.name = std::string(newName); });
  if (written) RenameStockItem(shownName, newName);
  return written;
}

std::size_t DeleteItems(std::vector<ShownItem> items) {
  std::stable_sort(items.begin(), items.end(),
                   [](const ShownItem& a, const ShownItem& b) { return a.recordNumber > b.recordNumber; });
  StoreGuard guard;
  std::size_t deleted = 0;
  for (const ShownItem& item : items) {
    if (DeleteItemAt(item.recordNumber)) ++deleted;
    MarkStockCardsOf(item.name);
  }
  PurgeStock();
  return deleted;
}

bool SetItemRemark(int recordNumber, std::string_view remark) {
  return ChangeItemAt(recordNumber, [&](MonitoredItem& item) { item.remark = std::string(remark); });
}

bool SetItemPurchaseLimit(int recordNumber, int purchaseLimit) {
  return ChangeItemAt(recordNumber, [&](MonitoredItem& item) { item.purchaseLimit = purchaseLimit; });
}

bool SetItemNeedsCard(int recordNumber, bool needsCard) {
  return ChangeItemAt(recordNumber, [&](MonitoredItem& item) { item.needsCard = needsCard; });
}

// ---- card stock

std::size_t RemoveStockCards(std::string_view itemName, const std::vector<StockCard>& shown,
                             const std::vector<int>& selectedRows) {
  StoreGuard guard;
  const std::vector<StockCard> current = LoadStockCardsOf(itemName);
  const std::vector<int> records = RecordsOfSelectedCards(shown, current, selectedRows);
  if (records.empty()) return 0;
  const std::unordered_set<int> chosen(records.begin(), records.end());
  // The marks and the purge in one access: one pass over the table,
  // however many cards were selected.
  TableAccess a(StockTablePath(), true);
  if (!a) return 0;
  RecordTable& t = a.table();
  std::size_t marked = 0;
  const bool ok = t.MarkDeletedWhere([&](RecordTable& r) {
    if (chosen.count(r.RecordNumber()) == 0) return false;
    ++marked;
    return true;
  });
  if (!ok) return 0;
  // Marked cards are out of the stock for every reader even if the purge
  // fails; the next purge removes them.
  t.Purge();
  return marked;
}

StockImport ImportStockCards(std::string_view itemName, const std::vector<ImportedCard>& cards,
                             const ImportProgress& progress, const std::atomic<bool>* cancel) {
  StockImport result;
  const std::size_t total = cards.size();
  // One open and one write hold of the stock table for the whole import:
  // the appends go straight to the held file.
  TableAccess a(StockTablePath(), true);
  if (!a) return result;
  RecordTable& t = a.table();
  const std::string name(itemName);
  // A card that a fixed-width field would cut is refused rather than stored
  // mangled; it stays with the seller like any refused card.
  const std::vector<FieldInfo>& fields = t.Fields();
  auto fits = [&fields](const ImportedCard& card) {
    return fields.size() >= 3 && TextFitsField(fields[1], card.cardNumber) &&
           TextFitsField(fields[2], card.cardPassword);
  };
  for (std::size_t i = 0; i < total; ++i) {
    if (cancel != nullptr && cancel->load()) {
      result.cancelled = true;
      break;
    }
    if (fits(cards[i]) && t.Append({name, cards[i].cardNumber, cards[i].cardPassword})) {
      ++result.written;
    } else {
      result.refused.push_back(i);
    }
    result.handled = i + 1;
    if (progress && (result.handled % kImportProgressStep == 0 || result.handled == total))
      progress(result.handled, total);
  }
  return result;
}

}  // namespace autodeliver
