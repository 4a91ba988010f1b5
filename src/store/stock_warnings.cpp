// Stock warnings once per crossing; see stock_warnings.h.
#include "store/stock_warnings.h"

#include "text/gbk.h"

namespace autodeliver {

std::vector<ItemStock> StockWarnings::Update(const std::vector<ItemStock>& figures) {
  std::vector<ItemStock> crossed;
  decltype(warned_) next;
  for (const ItemStock& item : figures) {
    if (!item.Low()) continue;
    if (!warned_.contains(item.name) && !next.contains(item.name)) crossed.push_back(item);
    next.insert(item.name);
  }
  // Items no longer low, switched off or gone drop out and are re-armed.
  warned_ = std::move(next);
  return crossed;
}

bool StockWarnings::IsWarned(std::string_view itemName) const { return warned_.contains(itemName); }

std::string StockWarningText(const ItemStock& item) {
  std::string text = "库存预警：宝贝“"_gbk + item.name + "”只剩 "_gbk + std::to_string(item.inStock) +
                     " 张卡密（预警线 "_gbk + std::to_string(item.warningLevel) + " 张）"_gbk;
  if (item.waiting > 0) text += "，待发 "_gbk + std::to_string(item.waiting) + " 张"_gbk;
  return text;
}

}  // namespace autodeliver
