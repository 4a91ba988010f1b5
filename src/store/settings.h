// Named text settings in the settings table (配置.edb): "配置名" is the name,
// "配置数据" the value. The installed row "阿里旺旺核心文件路径" is only ever
// overwritten; the program's own later settings (the notification switches)
// live in rows it appends with PutSetting, behind the installed ones, so the
// table's format and its existing rows stay as they are. No row is removed.
//
// Thread safety: both take StoreLock().
#pragma once

#include <string>
#include <string_view>

namespace autodeliver {

// The value of the first live row named exactly `name`; empty when there is
// none or the table cannot be opened.
std::string GetSetting(std::string_view name);

// Overwrites the value of the first live row named exactly `name`; false
// (nothing written) when there is none or the table fails.
bool SetSetting(std::string_view name, std::string_view value);

// Overwrites the value of the first live row named exactly `name`, or
// appends a row with that name and value when there is none. False when the
// table cannot be opened or written, or the name does not fit its field.
bool PutSetting(std::string_view name, std::string_view value);

}  // namespace autodeliver
