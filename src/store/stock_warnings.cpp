// Stock warnings once per crossing; see stock_warnings.h.
#include "store/stock_warnings.h"

#include <cstdio>
#include <fstream>
#include <optional>

#include "store/shop_paths.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::optional<std::string> FromHex(std::string_view hex) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return bytes;
}

}  // namespace

std::string StockWarningsPath(ShopContext& shop) { return shop.DataDir() + "/stock_warnings.txt"; }

StockWarnings::StockWarnings(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_);
  for (std::string line; std::getline(in, line);) {
    if (std::optional<std::string> name = FromHex(line); name && !name->empty()) warned_.insert(*name);
  }
}

void StockWarnings::Save() const {
  if (path_.empty()) return;
  // Written beside and renamed over, so a crash leaves the old list or the
  // new one.
  const std::string temporary = path_ + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const std::string& name : warned_) out << Hex(name) << '\n';
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return;
    }
  }
  if (std::rename(temporary.c_str(), path_.c_str()) != 0) std::remove(temporary.c_str());
}

std::vector<ItemStock> StockWarnings::Update(const std::vector<ItemStock>& figures) {
  std::vector<ItemStock> crossed;
  decltype(warned_) next;
  for (const ItemStock& item : figures) {
    if (!item.Low()) continue;
    if (!warned_.contains(item.name) && !next.contains(item.name)) crossed.push_back(item);
    next.insert(item.name);
  }
  // Items no longer low, switched off or gone drop out and are re-armed.
  const bool changed = next != warned_;
  warned_ = std::move(next);
  if (changed) Save();
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
