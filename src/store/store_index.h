// StoreIndex: what the delivery asks of the tables, kept in memory so that
// its cost does not grow with the stock or the history: the order numbers of
// the live sent cards, the record positions of each item's live stock cards
// in table order, and the names of the live monitored items.
//
// Each part is built on first use by one scan of its table and kept current
// by the store's own writes (the Note... calls). Before every use it is held
// against the open table with a cheap change test: the header's record count
// and next record id, the file's size, modification time and inode. A write
// by another process (the table tool, a second program) changes one of them
// and the part is rebuilt from the file. A stock position is checked again
// when its record is read (live, the item's name), so a card is never served
// from a stale position; a mismatch rebuilds the stock part.
//
// A new store operation that writes one of these tables keeps the index
// current by calling, inside the same held table access and after a query
// of the index in that access (StockOf, SentOrderExists, ItemNamed), the
// Note... call for each write: NoteStockMarked after MarkDeleted,
// NoteStockAppended after Append, NoteStockPurged after Purge,
// NoteSentAppended after appending a sent card. A Note whose table no longer
// matches what the index knows (a write came in between) drops the part,
// which is then rebuilt on its next use; Invalidate... does the same at
// once. A write that calls nothing is still seen by the change test, at the
// cost of a rebuild.
//
// A shop's context (shop_context.h) owns its index; the store operations
// reach it through ShopContext::Index().
//
// Thread safety: not thread-safe by itself. Every call is made inside a
// table access, under the shop's store lock, which serialises them: the
// context hands the index out only to a holder of that lock (AD_REQUIRES on
// ShopContext::Index(), checked by the clang build).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "tables/record_table.h"

namespace autodeliver {

class StoreIndex {
 public:
  StoreIndex();
  ~StoreIndex();
  StoreIndex(const StoreIndex&) = delete;
  StoreIndex& operator=(const StoreIndex&) = delete;

  // ---- card stock: `t` is the stock table at `path`, held by the caller;
  // `nameField` is the index of its "宝贝名称" field.

  // The 0-based record indexes of the live cards of `itemName`, in table
  // order; null when the table cannot be read.
  const std::deque<std::int32_t>* StockOf(RecordTable& t, const std::string& path, int nameField,
                                          std::string_view itemName);
  // Marked records in the stock table as far as the index knows (valid after
  // a StockOf in the same access).
  std::int32_t StockMarked(const std::string& path);
  void NoteStockMarked(RecordTable& t, const std::string& path, std::int32_t recordNumber);
  // `count` cards of `itemName` appended (and written: a buffered append is
  // noted after its Flush).
  void NoteStockAppended(RecordTable& t, const std::string& path, std::string_view itemName,
                         std::int32_t count = 1);
  void NoteStockPurged(RecordTable& t, const std::string& path);
  void InvalidateStock();

  // ---- sent cards: `orderField` is the index of "订单编号". *ok is false
  // when the table cannot be read.
  bool SentOrderExists(RecordTable& t, const std::string& path, int orderField, std::string_view orderNumber,
                       bool* ok);
  void NoteSentAppended(RecordTable& t, const std::string& path, std::string_view orderNumber);
  void InvalidateSent();

  // ---- monitored items: `nameField` is the index of "宝贝名称". The items
  // table is small and rarely written; it is rebuilt after every write.
  bool ItemNamed(RecordTable& t, const std::string& path, int nameField, std::string_view name, bool* ok);
  void InvalidateItems();

  // Drops every part (tests that swap the data folder, and a hard reset).
  void InvalidateAll();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace autodeliver
