// Named text settings in the settings table (配置.edb): "配置名" is the name,
// "配置数据" the value. The one setting in use is "阿里旺旺核心文件路径".
// Rows are never added or removed by the program.
//
// The IM client's program path is written by the start-up check of the
// client and read by the delivery side for every message it sends.
//
// Thread safety: both take StoreLock().
#pragma once

#include <string>
#include <string_view>

namespace autodeliver {

// "阿里旺旺核心文件路径" (GBK): the setting that holds the IM client's program
// path.
const std::string& ImClientPathSetting();

// The value of the first live row named exactly `name`; empty when there is
// none or the table cannot be opened.
std::string GetSetting(std::string_view name);

// Overwrites the value of the first live row named exactly `name`; false
// (nothing written) when there is none or the table fails.
bool SetSetting(std::string_view name, std::string_view value);

}  // namespace autodeliver
