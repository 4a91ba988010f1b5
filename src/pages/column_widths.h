// The widths the seller gave the columns of a grid, kept between starts in
// the settings table: one row whose "配置名" names the grid and whose
// "配置数据" holds the widths in pixels, in column order, separated by
// commas ("140,200,90,90,200,200,200,200"). A grid without a row, or with a
// row that does not hold one sensible width per column, shows the layout's
// widths. The table's fields and its other rows stay as they are.
//
// Thread safety: the store functions take the shop's store lock (settings.h); the
// rest is pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autodeliver {

class ShopContext;

// The settings row of the sent-cards grid (UTF-8; GBK in the table).
inline constexpr char kSentCardsColumnWidthsSetting[] = "已发卡密列宽";

// Widths outside this range are not taken from a row.
inline constexpr int kMinRememberedWidth = 1;
inline constexpr int kMaxRememberedWidth = 4000;

// The value of a row and back. Parse yields nullopt unless `value` holds
// exactly `count` decimal widths, each in the range above.
std::string ColumnWidthsValue(const std::vector<int>& widths);
std::optional<std::vector<int>> ParseColumnWidths(std::string_view value, std::size_t count);

// The widths remembered under `setting` (UTF-8), or `layoutWidths` when
// there are none that fit (also when the table cannot be read).
std::vector<int> LoadColumnWidths(ShopContext& shop, std::string_view setting,
                                  const std::vector<int>& layoutWidths);
// Remembers `widths` under `setting` (UTF-8), adding the row when there is
// none; widths outside the range above are stored at its nearer end. False
// when the table cannot be written.
bool SaveColumnWidths(ShopContext& shop, std::string_view setting, const std::vector<int>& widths);

}  // namespace autodeliver
