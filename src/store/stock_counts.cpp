// Stock figures per item; see stock_counts.h.
#include "store/stock_counts.h"

#include "store/item_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_access.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

int CountOf(const StockCounts& counts, std::string_view name) {
  auto it = counts.find(name);
  return it == counts.end() ? 0 : it->second;
}

}  // namespace

std::optional<StockCounts> CountStockByItem(ShopContext& shop) {
  TableAccess a(shop, shop.StockTablePath(), false);
  int fName;
  if (!a.Resolve({"宝贝名称"_gbk}, &fName)) return std::nullopt;
  RecordTable& t = a.table();
  StockCounts counts;
  const std::int32_t n = t.RecordCount();
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (t.RecordId() <= 0) continue;
    // A card whose item cannot be read belongs to no item: TakeStockCard
    // would never hand it out either.
    std::optional<std::string> name = t.ReadTextAt(fName);
    if (!name) continue;
    auto it = counts.find(*name);
    if (it == counts.end()) {
      counts.emplace(std::move(*name), 1);
    } else {
      ++it->second;
    }
  }
  return counts;
}

std::vector<ItemStock> ItemStockFigures(const std::vector<std::string>& itemNames, const StockCounts& stock,
                                        const StockCounts& waiting, const WarningLevels& levels) {
  std::vector<ItemStock> figures;
  figures.reserve(itemNames.size());
  for (const std::string& name : itemNames)
    figures.push_back(ItemStock{name, CountOf(stock, name), CountOf(waiting, name), levels.Of(name)});
  return figures;
}

bool LoadItemStock(ShopContext& shop, const StockCounts& waiting, std::vector<ItemStock>* figures) {
  std::vector<MonitoredItem> items;
  if (!LoadItems(shop, &items)) return false;
  std::optional<StockCounts> stock = CountStockByItem(shop);
  if (!stock) return false;
  std::vector<std::string> names;
  names.reserve(items.size());
  for (MonitoredItem& item : items) names.push_back(std::move(item.name));
  *figures = ItemStockFigures(names, *stock, waiting, LoadWarningLevels(shop));
  return true;
}

}  // namespace autodeliver
