// The warning level of each monitored item: when the item's stock falls to
// or below it, the seller is warned (stock_warnings.h). An item without a
// level of its own has the default level 5; level 0 turns the warning off.
//
// The levels are kept in the settings table, one row per item that has a
// level of its own: "配置名" is "库存预警线" and "配置数据" the level in
// decimal, one space, then the item's name exactly ("3 游戏点卡"). The name
// sits in the value rather than in "配置名" because that field is a short
// fixed-width text and a marketplace title may be longer. The monitored-
// items table stays as it is.
//
// Thread safety: WarningLevels is a plain value. The store functions take
// shop's store lock; Set/Rename/Forget hold it across their read and write.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "io/status.h"
#include "store/shop_context.h"

namespace autodeliver {

inline constexpr int kDefaultWarningLevel = 5;

// The name of the settings rows (UTF-8; GBK in the table).
inline constexpr char kWarningLevelSetting[] = "库存预警线";

// Hash for unordered maps keyed by text and looked up by string_view.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};
using TextMap = std::unordered_map<std::string, int, TextHash, std::equal_to<>>;

class WarningLevels {
 public:
  // The level of `itemName`: its own, else the default.
  int Of(std::string_view itemName) const;
  // Sets an item's own level (negative values count as 0).
  void Set(std::string_view itemName, int level);
  // The items with a level of their own.
  const TextMap& Own() const { return own_; }

 private:
  TextMap own_;
};

// One settings value "<level> <name>" and back. Parse yields nullopt for a
// value without a leading number and a space.
std::string WarningLevelValue(std::string_view itemName, int level);
std::optional<std::pair<std::string, int>> ParseWarningLevelValue(std::string_view value);

// The levels as stored; all default when the table cannot be read. When an
// item has several rows, the first counts.
WarningLevels LoadWarningLevels(ShopContext& shop);
// Stores the level of `itemName` in its row (added when it has none). These
// three give the cause, naming the settings table, when it cannot be opened
// or written.
Status SetWarningLevel(ShopContext& shop, std::string_view itemName, int level);
// The level of `oldName` goes over to `newName` (which loses its own), as
// the item's cards do when the seller renames it.
Status RenameWarningLevel(ShopContext& shop, std::string_view oldName, std::string_view newName);
// Removes the row of `itemName` (the item was removed).
Status ForgetWarningLevel(ShopContext& shop, std::string_view itemName);

}  // namespace autodeliver
