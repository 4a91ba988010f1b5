// The seller's operations on the shop: what the management pages do to the
// tables when the seller adds, renames or deletes monitored items, edits an
// item's attributes, imports cards or removes cards from the stock. Each
// operation is one transaction: it holds the shop's store lock (shop_context.h) from its
// first table access to its last, so the delivery thread never sees half of
// it (an item renamed but its cards not yet, cards marked but not purged).
// Callers never take the store lock themselves.
//
// Texts are GBK; names match by exact byte comparison, as everywhere in the
// store. Record numbers are 1-based, as item_table.h counts them.
//
// Thread safety: every operation may be called from any thread; the store
// lock serialises them with every other store operation. An import's
// progress callback runs on the importing thread while the lock is held.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "io/status.h"
#include "store/rows.h"
#include "store/shop_context.h"

namespace autodeliver {

// ---- monitored items

enum class AddItemResult {
  kAdded,
  kAlreadyMonitored,  // an item of exactly that name exists; nothing written
  kNotWritten,        // the table could not be written
  kNameTooLong,       // a table holds item names in a fixed-width field too narrow for it; nothing written
};

// The longest item name, in bytes, that every table holding item names
// (monitored items, stock, sent cards) stores whole: the narrowest of their
// fixed-width name fields; SIZE_MAX when none is fixed-width. A table that
// cannot be opened does not count.
std::size_t ItemNameLimit(ShopContext& shop);

// Adds `name` as a new item (empty remark, limit 0, needs cards) unless an
// item of exactly that name exists or the name is longer than
// ItemNameLimit(). The name is stored as given.
AddItemResult AddMonitoredItem(ShopContext& shop, std::string_view name);

// Gives the item at `recordNumber` the name `newName` and moves every stock
// card of `shownName` (the name the seller saw on that row) and its warning
// level (warning_levels.h) to it. The cause when the item cannot be read or
// written, or too long when `newName` is longer than ItemNameLimit(); its
// cards and level are then left as they are.
Status RenameItem(ShopContext& shop, int recordNumber, std::string_view shownName, std::string_view newName);

// An item as a list row shows it: its record number and its name.
struct ShownItem {
  int recordNumber = 0;
  std::string name;
};

// Removes the given items with their stock cards and warning levels: items
// from the highest record number to the lowest (so the numbers still to come
// stay valid), the cards of each by name, in one purge of the stock at the
// end. An item that cannot be removed keeps its cards and its level.
// Returns how many items were removed; `failure` (when given) gets the
// first cause of a table that could not be opened or written, naming it,
// and ok when there was none.
std::size_t DeleteItems(ShopContext& shop, std::vector<ShownItem> items, Status* failure = nullptr);

// Rewrite one attribute of the item at `recordNumber` (read, change, write).
// The cause, naming the items table, when the item cannot be read or
// written.
Status SetItemRemark(ShopContext& shop, int recordNumber, std::string_view remark);
Status SetItemPurchaseLimit(ShopContext& shop, int recordNumber, int purchaseLimit);
Status SetItemNeedsCard(ShopContext& shop, int recordNumber, bool needsCard);

// ---- card stock

// Removes the cards the seller selected in the stock list of `itemName`.
// `shown` are the cards as the list shows them (LoadStockCardsOf when it was
// filled), `selectedRows` indexes into `shown`. The shown cards are lined up
// with the stock as it is now (stock_selection.h), so cards the delivery
// thread took in between shift nothing: exactly the selected cards that are
// still in stock go, and a selected card that was delivered meanwhile is not
// replaced by another. Returns how many cards were removed (marked: out of
// the stock for every reader, even when the purge after the marks fails).
// `failure` (when given) gets the cause, naming the stock table, when it
// cannot be opened or written, and ok otherwise.
std::size_t RemoveStockCards(ShopContext& shop, std::string_view itemName,
                             const std::vector<StockCard>& shown, const std::vector<int>& selectedRows,
                             Status* failure = nullptr);

// The import's progress callback: cards handled so far (written or refused)
// and the total. It runs on the importing thread with the store lock held,
// so it must not wait for another thread that uses the store.
using ImportProgress = std::function<void(std::size_t handled, std::size_t total)>;

// The cards are written in batches of this many; progress is reported, and
// the cancel flag read, after every batch.
inline constexpr std::size_t kImportProgressStep = 1000;

struct StockImport {
  // Cards looked at, from the first: cards[0 .. handled) were written or
  // refused, cards[handled ..) were not tried (a cancel, or a stock table
  // that could not be opened).
  std::size_t handled = 0;
  std::size_t written = 0;
  // Indexes of the cards the table refused, ascending.
  std::vector<std::size_t> refused;
  // The cancel flag stopped the import before its end.
  bool cancelled = false;
  // Why the stock table stopped the import before its end (it could not be
  // opened or written), naming the file; ok when it did not.
  Status failure;
};

// Appends `cards` to the stock of `itemName`, in their order, in one access
// to the stock table (AppendStockCards, in batches of kImportProgressStep).
// `cancel`, when given, is read before the first batch and after each one:
// once it is true the import stops, keeping the cards written so far. A
// card the table refuses is skipped and the import goes on.
StockImport ImportStockCards(ShopContext& shop, std::string_view itemName,
                             const std::vector<ImportedCard>& cards, const ImportProgress& progress = {},
                             const std::atomic<bool>* cancel = nullptr);

}  // namespace autodeliver
