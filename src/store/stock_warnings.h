// When to warn the seller that an item's stock runs low: once per crossing.
// An item is warned about when its stock falls to or below its warning
// level (also at the first look, when it is low already), and not again in
// the cycles after while it stays there. It is re-armed when its stock rises
// above the level, when its level is switched off, or when it leaves the
// list of items.
//
// Thread safety: a StockWarnings is used by one thread at a time.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "store/stock_counts.h"

namespace autodeliver {

class StockWarnings {
 public:
  // Takes the current figures; returns the items that have just crossed
  // into warning, in the order of `figures`.
  std::vector<ItemStock> Update(const std::vector<ItemStock>& figures);

  // True while `itemName` stands warned.
  bool IsWarned(std::string_view itemName) const;

 private:
  std::unordered_set<std::string, TextHash, std::equal_to<>> warned_;
};

// The warning as the log and the notification say it (GBK).
std::string StockWarningText(const ItemStock& item);

}  // namespace autodeliver
