// The operations on the monitored-items table (监控宝贝.edb). ItemExists
// answers from an in-memory index (store_index.h) that is held against the
// file on every access, so a write by another process is seen.
//
// Each operation is a single table access: open the file, work, close it.
// A table that cannot be opened makes an operation fail silently (false,
// nullopt, an empty list). Records marked deleted are never served as live:
// lookups, loads and takes pass over them. Record numbers are 1-based
// positions in the table and shift down after a purge. Names and numbers
// match by exact byte comparison.
//
// Thread safety: every operation takes the shop's store lock (shop_context.h), so calls
// from the window's thread and the delivery thread never interleave.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/status.h"
#include "store/rows.h"
#include "store/shop_context.h"

namespace autodeliver {

// The item at `recordNumber` (clamped to the table); nullopt when the table
// cannot be opened, is empty, or the record cannot be read.
std::optional<MonitoredItem> ReadItemAt(ShopContext& shop, int recordNumber);
// The writes return the cause of a failure, naming the items table.
//
// Overwrites the item at `recordNumber` (clamped) with all four fields.
Status WriteItemAt(ShopContext& shop, int recordNumber, const MonitoredItem& item);
// All live items in table order into `items`; false and `items` untouched
// when the table cannot be opened.
bool LoadItems(ShopContext& shop, std::vector<MonitoredItem>* items);
// The names of all live items in table order.
std::vector<std::string> LoadItemNames(ShopContext& shop);
// True when a live item is named exactly `name`.
bool ItemExists(ShopContext& shop, std::string_view name);
Status AppendItem(ShopContext& shop, const MonitoredItem& item);
// Marks the item at `recordNumber` and purges; result of the mark.
Status DeleteItemAt(ShopContext& shop, int recordNumber);

}  // namespace autodeliver
