// The fields of the four installed tables, in definition order, and the
// creation of an installation's data folder.
//
// Every field is a text field with its name and order; whether a text is
// fixed-width in the record or a long text in the companion file is the
// installation's choice, and the program reads and writes tables of either
// layout (any valid layout, in fact: a value longer than a fixed-width
// field is refused, never cut). Newly installed tables are laid out for
// speed: the values the delivery looks up on every order and the index
// reads from every record (item names, order numbers) and the buyer's nick
// sit in fixed-width fields, read and written with the record; values that
// can be long (card numbers and passwords, which may be URLs of online
// cards, remarks, paths, the setting data) are long texts. Values the
// program formats itself (numbers, yes/no, the delivery time, the setting
// name) are fixed-width texts wide enough for any of them.
//
// Thread safety: free of shared state.
#pragma once

#include <string>
#include <vector>

#include "tables/record_table.h"

namespace autodeliver {

// The layout of the tables' text fields.
enum class TableLayout {
  kInstalled,  // what an installation gets now: fixed widths below, long texts where values can be long
  kLongTexts,  // the earlier installations': every value that comes from outside a long text
};

// Fixed widths of the installed layout, in bytes: an item name of up to 50
// Chinese characters (a marketplace title is limited to 30), an order
// number of up to 64 digits (the marketplace's have under 20), a nick of up
// to 32 Chinese characters. A longer value is refused where it comes in
// (the items page, the delivery of the order), never cut.
inline constexpr int kItemNameWidth = 100;
inline constexpr int kOrderNumberWidth = 64;
inline constexpr int kNickWidth = 64;

std::vector<FieldSpec> SettingsTableFields();
std::vector<FieldSpec> ItemsTableFields(TableLayout layout = TableLayout::kInstalled);
std::vector<FieldSpec> StockTableFields(TableLayout layout = TableLayout::kInstalled);
std::vector<FieldSpec> SentTableFields(TableLayout layout = TableLayout::kInstalled);

// Creates `dir`/data with the four empty tables in `layout` and the
// settings row "阿里旺旺核心文件路径" with empty data. Fails when a table
// exists already. On failure `error` (when given) says what failed.
bool CreateDataTables(const std::string& dir, std::string* error = nullptr,
                      TableLayout layout = TableLayout::kInstalled);

}  // namespace autodeliver
