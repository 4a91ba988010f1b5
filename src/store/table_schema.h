// The fields of the four installed tables, in definition order, and the
// creation of an installation's data folder. Values that come from outside
// (names, card numbers, passwords, paths, nicks, order numbers, remarks) are
// long texts in the companion file, so they are never cut; values the
// program formats itself (numbers, yes/no, the delivery time, the setting
// name) are fixed-width texts wide enough for any of them.
//
// Thread safety: free of shared state.
#pragma once

#include <string>
#include <vector>

#include "store/record_table.h"

namespace autodeliver {

std::vector<FieldSpec> SettingsTableFields();
std::vector<FieldSpec> ItemsTableFields();
std::vector<FieldSpec> StockTableFields();
std::vector<FieldSpec> SentTableFields();

// Creates `dir`/data with the four empty tables and the settings row
// "阿里旺旺核心文件路径" with empty data. Fails when a table exists already.
// On failure `error` (when given) says what failed.
bool CreateDataTables(const std::string& dir, std::string* error = nullptr);

}  // namespace autodeliver
