// Named text settings in the settings table (配置.edb): "配置名" is the name,
// "配置数据" the value. The one setting in use is "阿里旺旺核心文件路径".
// Rows are never added or removed by the program.
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

}  // namespace autodeliver
