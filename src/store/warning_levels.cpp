// Warning levels in settings rows; see warning_levels.h.
#include "store/warning_levels.h"

#include <algorithm>
#include <vector>

#include "store/settings.h"
#include "store/store_lock.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {

namespace {

const std::string& SettingName() {
  static const std::string name = Utf8ToGbkLossy(kWarningLevelSetting);
  return name;
}

// Edits the rows of the levels as a list of values, under one hold of the
// store lock so that no other change comes between the read and the write.
Status EditRows(ShopContext& shop, const std::function<void(std::vector<std::string>&)>& edit) {
  StoreGuard guard(shop);
  std::vector<std::string> values = GetSettingValues(shop, SettingName());
  edit(values);
  return ReplaceSettingValues(shop, SettingName(), values);
}

bool IsRowOf(std::string_view value, std::string_view itemName) {
  std::optional<std::pair<std::string, int>> parsed = ParseWarningLevelValue(value);
  return parsed && parsed->first == itemName;
}

}  // namespace

int WarningLevels::Of(std::string_view itemName) const {
  auto it = own_.find(itemName);
  return it == own_.end() ? kDefaultWarningLevel : it->second;
}

void WarningLevels::Set(std::string_view itemName, int level) {
  own_.insert_or_assign(std::string(itemName), std::max(level, 0));
}

std::string WarningLevelValue(std::string_view itemName, int level) {
  return std::to_string(std::max(level, 0)) + " " + std::string(itemName);
}

std::optional<std::pair<std::string, int>> ParseWarningLevelValue(std::string_view value) {
  const std::size_t space = value.find(' ');
  if (space == 0 || space == std::string_view::npos) return std::nullopt;
  const std::string_view number = value.substr(0, space);
  if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  return std::make_pair(std::string(value.substr(space + 1)), TextToInt(number));
}

WarningLevels LoadWarningLevels(ShopContext& shop) {
  WarningLevels levels;
  for (const std::string& value : GetSettingValues(shop, SettingName())) {
    std::optional<std::pair<std::string, int>> parsed = ParseWarningLevelValue(value);
    if (parsed && !levels.Own().contains(parsed->first)) levels.Set(parsed->first, parsed->second);
  }
  return levels;
}

Status SetWarningLevel(ShopContext& shop, std::string_view itemName, int level) {
  return EditRows(shop, [&](std::vector<std::string>& values) {
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const std::string& v) { return IsRowOf(v, itemName); });
    if (it == values.end()) {
      values.push_back(WarningLevelValue(itemName, level));
    } else {
      *it = WarningLevelValue(itemName, level);
    }
  });
}

Status RenameWarningLevel(ShopContext& shop, std::string_view oldName, std::string_view newName) {
  if (oldName == newName) return Status::Ok();
  return EditRows(shop, [&](std::vector<std::string>& values) {
    std::erase_if(values, [&](const std::string& v) { return IsRowOf(v, newName); });
    for (std::string& v : values)
      if (std::optional<std::pair<std::string, int>> parsed = ParseWarningLevelValue(v);
          parsed && parsed->first == oldName)
        v = WarningLevelValue(newName, parsed->second);
  });
}

Status ForgetWarningLevel(ShopContext& shop, std::string_view itemName) {
  return EditRows(shop, [&](std::vector<std::string>& values) {
    std::erase_if(values, [&](const std::string& v) { return IsRowOf(v, itemName); });
  });
}

}  // namespace autodeliver
