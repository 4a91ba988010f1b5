// The seller's operations; see seller_actions.h.
#include "store/seller_actions.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "store/item_table.h"
#include "store/shop_paths.h"
#include "store/stock_selection.h"
#include "store/stock_table.h"
#include "store/store_lock.h"
#include "store/table_access.h"
#include "store/warning_levels.h"
#include "tables/table_format.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

// Reads the item at `recordNumber`, lets `change` edit it and writes it
// back, all under one hold of the store lock.
template <typename Change>
Status ChangeItemAt(ShopContext& shop, int recordNumber, Change change) {
  StoreGuard guard(shop);
  std::optional<MonitoredItem> item = ReadItemAt(shop, recordNumber);
  if (!item) return Status::NotFound(shop.ItemsTablePath(), "the item cannot be read");
  change(*item);
  return WriteItemAt(shop, recordNumber, *item);
}

}  // namespace

// ---- monitored items

std::size_t ItemNameLimit(ShopContext& shop) {
  std::size_t limit = SIZE_MAX;
  for (const std::string& path : {shop.ItemsTablePath(), shop.StockTablePath(), shop.SentTablePath()}) {
    TableAccess a(shop, path, false);
    int name = -1;
    if (!a.Resolve({"宝贝名称"_gbk}, &name)) continue;
    const FieldInfo& field = a.table().Fields()[static_cast<std::size_t>(name)];
    if (field.type == table_format::kFixedText)
      limit = std::min(limit, static_cast<std::size_t>(field.width));
  }
  return limit;
}

AddItemResult AddMonitoredItem(ShopContext& shop, std::string_view name) {
  StoreGuard guard(shop);
  if (name.size() > ItemNameLimit(shop)) return AddItemResult::kNameTooLong;
  if (ItemExists(shop, name)) return AddItemResult::kAlreadyMonitored;
  MonitoredItem item;
  item.name = std::string(name);
  item.remark.clear();
  item.purchaseLimit = 0;
  item.needsCard = true;
  return AppendItem(shop, item) ? AddItemResult::kAdded : AddItemResult::kNotWritten;
}

Status RenameItem(ShopContext& shop, int recordNumber, std::string_view shownName, std::string_view newName) {
  StoreGuard guard(shop);
  if (newName.size() > ItemNameLimit(shop)) return Status::TooLong(shop.ItemsTablePath(), "item name");
  Status written =
      ChangeItemAt(shop, recordNumber, [&](MonitoredItem& item) { item.name = std::string(newName); });
  if (written) {
    RenameStockItem(shop, shownName, newName);
    // The warning level goes with the cards.
    RenameWarningLevel(shop, shownName, newName);
  }
  return written;
}

std::size_t DeleteItems(ShopContext& shop, std::vector<ShownItem> items, Status* failure) {
  std::stable_sort(items.begin(), items.end(),
                   [](const ShownItem& a, const ShownItem& b) { return a.recordNumber > b.recordNumber; });
  StoreGuard guard(shop);
  std::size_t deleted = 0;
  Status first;
  auto keep = [&first](Status s) {
    if (first.ok() && !s.ok()) first = std::move(s);
  };
  bool anyMarked = false;
  for (const ShownItem& item : items) {
    Status removed = DeleteItemAt(shop, item.recordNumber);
    // An item that stays keeps its cards and its level: the seller sees it
    // as it was and can try again.
    if (!removed) {
      keep(std::move(removed));
      continue;
    }
    ++deleted;
    Status marked = MarkStockCardsOf(shop, item.name);
    anyMarked = anyMarked || marked.ok();
    keep(std::move(marked));
    keep(ForgetWarningLevel(shop, item.name));
  }
  if (anyMarked) keep(PurgeStock(shop));
  if (failure) *failure = std::move(first);
  return deleted;
}

Status SetItemRemark(ShopContext& shop, int recordNumber, std::string_view remark) {
  return ChangeItemAt(shop, recordNumber, [&](MonitoredItem& item) { item.remark = std::string(remark); });
}

Status SetItemPurchaseLimit(ShopContext& shop, int recordNumber, int purchaseLimit) {
  return ChangeItemAt(shop, recordNumber, [&](MonitoredItem& item) { item.purchaseLimit = purchaseLimit; });
}

Status SetItemNeedsCard(ShopContext& shop, int recordNumber, bool needsCard) {
  return ChangeItemAt(shop, recordNumber, [&](MonitoredItem& item) { item.needsCard = needsCard; });
}

// ---- card stock

std::size_t RemoveStockCards(ShopContext& shop, std::string_view itemName,
                             const std::vector<StockCard>& shown, const std::vector<int>& selectedRows,
                             Status* failure) {
  if (failure) *failure = Status::Ok();
  StoreGuard guard(shop);
  const std::vector<StockCard> current = LoadStockCardsOf(shop, itemName);
  const std::vector<int> records = RecordsOfSelectedCards(shown, current, selectedRows);
  if (records.empty()) return 0;
  // The marks and the purge in one access, however many cards were
  // selected.
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  if (!a) {
    if (failure) *failure = a.status();
    return 0;
  }
  RecordTable& t = a.table();
  // Each card counts once its mark is down, so that a write failing part
  // way leaves the count of the cards that did leave the stock.
  std::size_t marked = 0;
  Status first;
  for (int record : records) {
    Status s = t.GoTo(record) && t.RecordNumber() == record
                   ? t.MarkDeleted()
                   : Status::Corrupt(path, "the record cannot be read");
    if (s)
      ++marked;
    else if (first.ok())
      first = s.WithPath(path);
  }
  // Marked cards are out of the stock for every reader even if the purge
  // fails; the next purge removes them.
  if (marked > 0) {
    Status purged = t.Purge();
    if (first.ok() && !purged.ok()) first = purged.WithPath(path);
  }
  if (failure) *failure = std::move(first);
  return marked;
}

StockImport ImportStockCards(ShopContext& shop, std::string_view itemName,
                             const std::vector<ImportedCard>& cards, const ImportProgress& progress,
                             const std::atomic<bool>* cancel) {
  StockImport result;
  auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
  if (cancelled()) {
    result.cancelled = !cards.empty();
    return result;
  }
  const std::size_t total = cards.size();
  result.handled = AppendStockCards(
      shop, itemName, cards,
      [&](std::size_t handled) {
        if (progress) progress(handled, total);
        return !cancelled();
      },
      kImportProgressStep, &result.refused, &result.failure);
  result.written = result.handled - result.refused.size();
  result.cancelled = result.handled < total && cancelled();
  return result;
}

}  // namespace autodeliver
