// When to warn the seller that an item's stock runs low: once per crossing.
// An item is warned about when its stock falls to or below its warning
// level (also at the first look, when it is low already), and not again in
// the cycles after while it stays there. It is re-armed when its stock rises
// above the level, when its level is switched off, or when it leaves the
// list of items.
//
// Given a file, the items standing warned are kept there (one name a line,
// its GBK bytes in hex), so a new start of the program does not warn again
// of a stock that stayed low while it was closed. A file that cannot be
// read counts as no item warned; one that cannot be written leaves the
// warnings as they are in memory.
//
// Thread safety: a StockWarnings is used by one thread at a time.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "store/shop_context.h"
#include "store/stock_counts.h"

namespace autodeliver {

class StockWarnings {
 public:
  StockWarnings() = default;
  // Reads the items standing warned from `path` and keeps them there.
  explicit StockWarnings(std::string path);

  // Takes the current figures; returns the items that have just crossed
  // into warning, in the order of `figures`.
  std::vector<ItemStock> Update(const std::vector<ItemStock>& figures);

  // True while `itemName` stands warned.
  bool IsWarned(std::string_view itemName) const;

 private:
  void Save() const;

  std::string path_;  // empty: kept in memory only
  std::unordered_set<std::string, TextHash, std::equal_to<>> warned_;
};

// shop.DataDir() + "/stock_warnings.txt": where the program keeps the items
// standing warned.
std::string StockWarningsPath(ShopContext& shop);

// The warning as the log and the notification say it (GBK).
std::string StockWarningText(const ItemStock& item);

}  // namespace autodeliver
