// The operations on the card-stock table (库存卡密.edb). The stock of an item
// and the take answer from an in-memory index (store_index.h) that is held
// against the file on every access, so a write by another process is seen.
//
// Each operation is a single table access: open the file, work, close it.
// A table that cannot be opened makes a read fail silently (false, nullopt,
// an empty list); the appends and removals return the cause (io/status.h). Records marked deleted are never
// served as live: lookups, loads and takes pass over them. Record numbers are 1-based positions in the table
// and shift down after a purge. Names and numbers match by exact byte comparison.
//
// Thread safety: every operation takes the shop's store lock (shop_context.h), so calls
// from the window's thread and the delivery thread never interleave.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/status.h"
#include "store/rows.h"
#include "store/shop_context.h"

namespace autodeliver {

// Appends one card; the cause, naming the stock table, when it cannot.
Status AppendStockCard(ShopContext& shop, const StockCard& card);
// Appends `cards` to the stock of `itemName`, in order, in one table access:
// the table is opened once and held exclusively (and the store lock taken)
// for the whole run, so no other store operation comes in between. After
// every `batchSize` cards, and after the last, `afterBatch` (when given) is
// called inside the hold with the number of cards handled so far; when it
// returns false the append stops there.
//
// A card the table refuses (a value it cannot hold whole: a card is never
// cut to a fixed-width field) stops the append,
// unless `refused` is given: then the card's index goes into `refused` and
// the append goes on with the next card.
//
// Returns the number of cards handled: the first that many of `cards` are
// in the stock, except those listed in `refused`; the rest are not (the
// table failed or refused a card, or the append was stopped). The cards of
// a batch are written together at its end, before `afterBatch`; when that
// write fails, the count ends at the first card not written. 0 and no call
// of `afterBatch` when the table cannot be opened. When the table fails (or
// refuses a card with no `refused` to take it), `failure` (when given) gets
// the cause, naming the stock table; it is left alone otherwise, also when
// `afterBatch` stops the append.
std::size_t AppendStockCards(ShopContext& shop, std::string_view itemName,
                             std::span<const ImportedCard> cards,
                             const std::function<bool(std::size_t handled)>& afterBatch = {},
                             std::size_t batchSize = 1000, std::vector<std::size_t>* refused = nullptr,
                             Status* failure = nullptr);
// The live cards of `itemName` in table order, each with its record number.
std::vector<StockCard> LoadStockCardsOf(ShopContext& shop, std::string_view itemName);
// Every live card of the stock in table order, each with its record number;
// false and `cards` untouched when the table cannot be opened.
bool LoadAllStockCards(ShopContext& shop, std::vector<StockCard>* cards);
// The first `limit` of them; *total (when given) gets the number of live
// cards of the item. What a delivery needs, read without the rest.
std::vector<StockCard> LoadFirstStockCardsOf(ShopContext& shop, std::string_view itemName, std::size_t limit,
                                             std::size_t* total = nullptr);
// Gives every card of `oldName` the name `newName`.
bool RenameStockItem(ShopContext& shop, std::string_view oldName, std::string_view newName);
// The removals below give the cause, naming the stock table, when it
// cannot be opened or written.
// Marks every card of `itemName` (no purge).
Status MarkStockCardsOf(ShopContext& shop, std::string_view itemName);
// Marks the card at `recordNumber` (no purge); a number outside the table
// marks nothing.
Status MarkStockCardAt(ShopContext& shop, int recordNumber);
// Removes every marked card.
Status PurgeStock(ShopContext& shop);
// Takes the oldest live card of `itemName` out of the stock and returns it;
// nullopt when there is none or the table fails. The card is marked and
// stays in the file until a compaction removes the marked records: at once
// when they reach a quarter of the table, else at CompactStockIfWorthIt or
// CompactStock. A crash in between leaves the card marked, never served.
std::optional<StockCard> TakeStockCard(ShopContext& shop, std::string_view itemName);
// Removes the marked stock records when they reach an eighth of the table;
// *compacted (when given) tells whether it did. Cheap otherwise: the
// delivery calls it at idle, between cycles.
Status CompactStockIfWorthIt(ShopContext& shop, bool* compacted = nullptr);
// Removes every marked stock record (at close); *compacted (when given)
// tells whether there were any and they are gone.
Status CompactStock(ShopContext& shop, bool* compacted = nullptr);

}  // namespace autodeliver
