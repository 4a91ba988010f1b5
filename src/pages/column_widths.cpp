// Remembered column widths in a settings row; see column_widths.h.
#include "pages/column_widths.h"

#include <algorithm>
#include <charconv>

#include "store/settings.h"
#include "text/gbk.h"

namespace autodeliver {

std::string ColumnWidthsValue(const std::vector<int>& widths) {
  std::string value;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (i > 0) value += ',';
    value += std::to_string(widths[i]);
  }
  return value;
}

std::optional<std::vector<int>> ParseColumnWidths(std::string_view value, std::size_t count) {
  std::vector<int> widths;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(',', start);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view piece = value.substr(start, end - start);
    int width = 0;
    const auto [next, error] = std::from_chars(piece.data(), piece.data() + piece.size(), width);
    if (piece.empty() || error != std::errc() || next != piece.data() + piece.size()) return std::nullopt;
    if (width < kMinRememberedWidth || width > kMaxRememberedWidth) return std::nullopt;
    widths.push_back(width);
    start = end + 1;
  }
  if (widths.size() != count) return std::nullopt;
  return widths;
}

std::vector<int> LoadColumnWidths(ShopContext& shop, std::string_view setting,
                                  const std::vector<int>& layoutWidths) {
  const std::vector<std::string> values = GetSettingValues(shop, Utf8ToGbkLossy(std::string(setting)));
  if (values.empty()) return layoutWidths;
  return ParseColumnWidths(values.front(), layoutWidths.size()).value_or(layoutWidths);
}

bool SaveColumnWidths(ShopContext& shop, std::string_view setting, const std::vector<int>& widths) {
  // Stored within the range a row is read back with.
  std::vector<int> kept = widths;
  for (int& w : kept) w = std::clamp(w, kMinRememberedWidth, kMaxRememberedWidth);
  return ReplaceSettingValues(shop, Utf8ToGbkLossy(std::string(setting)), {ColumnWidthsValue(kept)}).ok();
}

}  // namespace autodeliver
