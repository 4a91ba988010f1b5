// The figures of the items page: how many cards each monitored item has in
// stock, how many cards its waiting orders need, and its warning level.
//
// The stock is counted in one pass over the card-stock table for all items
// together. The cards that waiting orders need come from the delivery: the
// orders of the last scan that wait because the stock of their item holds
// too few cards, their bought quantities added up per item title.
//
// Thread safety: the figures are plain values. CountStockByItem and
// LoadItemStock take the shop's store lock for each table they read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/shop_context.h"
#include "store/warning_levels.h"

namespace autodeliver {

// Cards per item name.
using StockCounts = TextMap;

// The live cards of every item in the stock. nullopt when the table cannot
// be read.
std::optional<StockCounts> CountStockByItem(ShopContext& shop);

struct ItemStock {
  std::string name;
  int inStock = 0;
  int waiting = 0;  // cards the waiting orders of the item need
  int warningLevel = kDefaultWarningLevel;

  // The stock is at or below a level that is switched on.
  bool Low() const { return warningLevel > 0 && inStock <= warningLevel; }
  bool operator==(const ItemStock&) const = default;
};

// The figures of `itemNames`, in their order, from the counts, the waiting
// needs and the levels; an item missing from a map counts 0.
std::vector<ItemStock> ItemStockFigures(const std::vector<std::string>& itemNames, const StockCounts& stock,
                                        const StockCounts& waiting, const WarningLevels& levels);

// The same for the monitored items as stored: the items table, one pass
// over the stock, the levels. False and `figures` untouched when the items
// or the stock table cannot be read.
bool LoadItemStock(ShopContext& shop, const StockCounts& waiting, std::vector<ItemStock>* figures);

}  // namespace autodeliver
