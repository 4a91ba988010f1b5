// Named text settings in the settings table (配置.edb): "配置名" is the name,
// "配置数据" the value. "阿里旺旺核心文件路径" is a single row, installed
// with the table, that the program only ever overwrites. The program's own
// later settings (the notification switches with PutSetting; settings of
// which it keeps several rows under one name, one per monitored item for
// instance, with ReplaceSettingValues) live in rows it appends behind the
// installed ones, so the table's fields and its existing rows stay as they
// are.
//
// The IM client's program path is written by the start-up check of the
// client and read by the delivery side for every message it sends.
//
// Thread safety: both take the shop's store lock.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/status.h"
#include "store/shop_context.h"

namespace autodeliver {

// "阿里旺旺核心文件路径" (GBK): the setting that holds the IM client's program
// path.
const std::string& ImClientPathSetting();

// The value of the first live row named exactly `name`; empty when there is
// none or the table cannot be opened.
std::string GetSetting(ShopContext& shop, std::string_view name);

// Overwrites the value of the first live row named exactly `name`. Not
// found (nothing written) when there is none; the cause, naming the
// settings table, when the table cannot be opened or written.
Status SetSetting(ShopContext& shop, std::string_view name, std::string_view value);

// The values of every live row named exactly `name`, in table order; empty
// when there is none or the table cannot be opened.
std::vector<std::string> GetSettingValues(ShopContext& shop, std::string_view name);

// Makes the rows named `name` hold exactly `values`, in one table access:
// the existing rows of that name get the values in table order, rows left
// over are removed and values left over are appended as new rows. Rows of
// other names keep their values and their order. The cause, naming the
// settings table, when it cannot be opened or a write fails; the edit stops
// at the first failed write, so the rows before it hold their new values
// and the rest their old ones.
Status ReplaceSettingValues(ShopContext& shop, std::string_view name, const std::vector<std::string>& values);

// Overwrites the value of the first live row named exactly `name`, or
// appends a row with that name and value when there is none. The cause,
// naming the settings table, when it cannot be opened or written; too long
// when the name does not fit its field.
Status PutSetting(ShopContext& shop, std::string_view name, std::string_view value);

}  // namespace autodeliver
