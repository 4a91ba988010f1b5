// Where the program's files live: the program directory (AUTODELIVER_DIR, or
// the directory of the running executable), its data folder and the four
// table files. File names on disk are UTF-8.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <string>

namespace autodeliver {

// Table file names inside the data folder (UTF-8).
inline constexpr char kSettingsTableFile[] = "配置.edb";
inline constexpr char kItemsTableFile[] = "监控宝贝.edb";
inline constexpr char kStockTableFile[] = "库存卡密.edb";
inline constexpr char kSentTableFile[] = "已发卡密.edb";

// The program directory without a trailing slash: the value given to
// SetProgramDir, else $AUTODELIVER_DIR, else the executable's directory.
std::string ProgramDir();
// Overrides the program directory for the rest of the process (tests, the
// table tool). An empty value returns to the default.
void SetProgramDir(const std::string& dir);

// ProgramDir() + "/data".
std::string DataDir();
// DataDir() + "/" + file name.
std::string SettingsTablePath();
std::string ItemsTablePath();
std::string StockTablePath();
std::string SentTablePath();

}  // namespace autodeliver
