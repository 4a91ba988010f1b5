#include "store/stock_table.h"

#include <algorithm>
#include <string>

#include "store/shop_paths.h"
#include "store/store_index.h"
#include "store/table_access.h"
#include "store/table_fields.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {

using shop_tables::FieldEquals;
using shop_tables::FieldNames;
using shop_tables::IsLive;

// ---- card stock
//
// A take marks its card and leaves it in the file; the marked records are
// removed together later (CompactStock), so a take does not move the
// records behind its card. Every reader passes over marked records, and the
// index (store_index.h) finds an item's cards without a scan.

namespace {

struct StockFields {
  int name, number, password;
};

bool ResolveStock(TableAccess& a, StockFields* f) {
  return a.Resolve({FieldNames().itemName, FieldNames().cardNumber, FieldNames().cardPassword}, &f->name,
                   &f->number, &f->password);
}

// A take compacts when the marked records reach this share of the table;
// the idle hook when they reach the smaller one.
constexpr std::int32_t kTakeShare = 4;  // 1/4
constexpr std::int32_t kIdleShare = 8;  // 1/8

// True when record `index` (0-based) is a live card of `itemName`: the
// index's position still holds what the index says.
bool IsLiveCardOf(RecordTable& t, std::int32_t index, int nameField, std::string_view itemName) {
  return t.GoTo(index + 1) && t.RecordNumber() == index + 1 && IsLive(t) &&
         FieldEquals(t, nameField, itemName);
}

// Removes the marked records (the index follows) when there are any and
// `worth` says so for (marked, records); *compacted tells whether it did.
Status CompactWhen(ShopContext& shop, TableAccess& a, const std::string& path, int nameField,
                   const std::function<bool(std::int32_t, std::int32_t)>& worth, bool* compacted)
    AD_REQUIRES(shop.StoreLock()) {
  RecordTable& t = a.table();
  if (!shop.Index().StockOf(t, path, nameField, {})) return Status::Corrupt(path, "the stock cannot be read");
  const std::int32_t marked = shop.Index().StockMarked(path);
  if (marked == 0 || !worth(marked, t.RecordCount())) return Status::Ok();
  Status s = t.Purge();
  if (s) {
    shop.Index().NoteStockPurged(t, path);
    if (compacted) *compacted = true;
  } else {
    shop.Index().InvalidateStock();
  }
  return s.WithPath(path);
}

}  // namespace

Status AppendStockCard(ShopContext& shop, const StockCard& card) {
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  if (!a) return a.status();
  Status s = a.table().Append({card.itemName, card.cardNumber, card.cardPassword});
  if (!s) return s.WithPath(path);
  shop.Index().NoteStockAppended(a.table(), path, card.itemName);
  return s;
}

std::size_t AppendStockCards(ShopContext& shop, std::string_view itemName,
                             std::span<const ImportedCard> cards,
                             const std::function<bool(std::size_t handled)>& afterBatch,
                             std::size_t batchSize, std::vector<std::size_t>* refused, Status* failure) {
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  // Every failure below is told to the caller with its file named.
  auto fail = [&](Status s) {
    if (failure) *failure = s.ok() ? Status::IoError(path, 0) : s.WithPath(path);
  };
  if (!a) {
    fail(a.status());
    return 0;
  }
  if (cards.empty()) return 0;
  if (batchSize == 0) batchSize = cards.size();
  RecordTable& t = a.table();
  // A card cut to its field would be another card: it is refused instead,
  // and stays with the seller.
  const std::vector<FieldInfo>& fields = t.Fields();
  auto fits = [&fields](const ImportedCard& card) {
    return fields.size() >= 3 && TextFitsField(fields[1], card.cardNumber) &&
           TextFitsField(fields[2], card.cardPassword);
  };
  FieldValues values(3);
  values[0] = std::string(itemName);
  // The appends of a batch are written together at its end, before it is
  // reported: a card counted as handled is in the file.
  t.SetBufferedAppends(true);
  std::size_t handled = 0;
  std::vector<std::size_t> appended;  // the batch's cards appended, in order
  while (handled < cards.size()) {
    const std::size_t end = std::min(cards.size(), handled + batchSize);
    const std::int32_t countBefore = t.RecordCount();
    appended.clear();
    bool stop = false, failed = false;
    Status cause;
    for (; handled < end; ++handled) {
      values[1] = cards[handled].cardNumber;
      values[2] = cards[handled].cardPassword;
      const bool fit = fits(cards[handled]);
      if (fit) {
        cause = t.Append(values);
        if (cause) {
          appended.push_back(handled);
          continue;
        }
      }
      // An append of a card that fits fails when writing the appends before
      // it failed: those are lost, and the import ends where the file does.
      // The flush tells why; when it writes them after all, the append's
      // own failure was a card the table refused.
      if (fit) {
        Status flushed = t.Flush();
        if (!flushed) {
          cause = std::move(flushed);
          failed = true;
          break;
        }
      }
      if (refused == nullptr) {
        if (!fit) cause = Status::TooLong(path, "a card is longer than its field");
        fail(cause);
        stop = true;
        break;
      }
      refused->push_back(handled);
    }
    if (!failed) {
      cause = t.Flush();
      failed = !cause.ok();
    }
    if (failed) fail(cause);
    const std::int32_t written = t.RecordCount() - countBefore;
    if (written > 0) shop.Index().NoteStockAppended(t, path, itemName, written);
    if (failed) {
      // The first card of the batch that is not in the file, and no card
      // after it counts as handled.
      if (static_cast<std::size_t>(written) < appended.size()) handled = appended[written];
      if (refused) std::erase_if(*refused, [handled](std::size_t i) { return i >= handled; });
      return handled;
    }
    if (stop) return handled;
    if (afterBatch && !afterBatch(handled)) break;
  }
  return handled;
}

std::vector<StockCard> LoadStockCardsOf(ShopContext& shop, std::string_view itemName) {
  return LoadFirstStockCardsOf(shop, itemName, static_cast<std::size_t>(-1), nullptr);
}

std::vector<StockCard> LoadFirstStockCardsOf(ShopContext& shop, std::string_view itemName, std::size_t limit,
                                             std::size_t* total) {
  std::vector<StockCard> cards;
  if (total) *total = 0;
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, false);
  StockFields f;
  if (!ResolveStock(a, &f)) return cards;
  RecordTable& t = a.table();
  // A position that no longer holds the card the index names (a write the
  // change test could not see) rebuilds the index once; after that, a card
  // that does not read back is passed over as an unreadable one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::deque<std::int32_t>* positions = shop.Index().StockOf(t, path, f.name, itemName);
    if (!positions) return cards;
    cards.clear();
    bool stale = false;
    for (std::int32_t index : *positions) {
      if (cards.size() >= limit) break;
      if (!IsLiveCardOf(t, index, f.name, itemName)) {
        stale = attempt == 0;
        if (stale) break;
        continue;
      }
      StockCard card;
      card.itemName = std::string(itemName);
      card.cardNumber = t.ReadTextAt(f.number).value_or(std::string());
      card.cardPassword = t.ReadTextAt(f.password).value_or(std::string());
      card.recordNumber = index + 1;
      cards.push_back(std::move(card));
    }
    if (!stale) {
      if (total) *total = positions->size();
      return cards;
    }
    shop.Index().InvalidateStock();
  }
  return cards;
}

bool LoadAllStockCards(ShopContext& shop, std::vector<StockCard>* cards) {
  TableAccess a(shop, shop.StockTablePath(), false);
  int fName, fNumber, fPassword;
  if (!a.Resolve({FieldNames().itemName, FieldNames().cardNumber, FieldNames().cardPassword}, &fName,
                 &fNumber, &fPassword))
    return false;
  RecordTable& t = a.table();
  std::vector<StockCard> out;
  std::int32_t n = t.RecordCount();
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (!IsLive(t)) continue;
    StockCard card;
    card.itemName = t.ReadTextAt(fName).value_or(std::string());
    card.cardNumber = t.ReadTextAt(fNumber).value_or(std::string());
    card.cardPassword = t.ReadTextAt(fPassword).value_or(std::string());
    card.recordNumber = t.RecordNumber();
    out.push_back(std::move(card));
  }
  *cards = std::move(out);
  return true;
}

bool RenameStockItem(ShopContext& shop, std::string_view oldName, std::string_view newName) {
  TableAccess a(shop, shop.StockTablePath(), true);
  int fName;
  if (!a.Resolve({FieldNames().itemName}, &fName)) return false;
  shop.Index().InvalidateStock();
  RecordTable& t = a.table();
  std::int32_t n = t.RecordCount();
  bool ok = true;
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (IsLive(t) && FieldEquals(t, fName, oldName) && !t.Modify({std::string(newName)})) ok = false;
  }
  return ok;
}

Status MarkStockCardsOf(ShopContext& shop, std::string_view itemName) {
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  int fName;
  if (!a.Resolve({FieldNames().itemName}, &fName)) return a.status();
  shop.Index().InvalidateStock();
  return a.table()
      .MarkDeletedWhere([&](RecordTable& t) { return FieldEquals(t, fName, itemName); })
      .WithPath(path);
}

Status MarkStockCardAt(ShopContext& shop, int recordNumber) {
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  if (!a) return a.status();
  RecordTable& t = a.table();
  // A number outside the table marks nothing.
  if (recordNumber < 1 || recordNumber > t.RecordCount()) return Status::Ok();
  Status s = t.GoTo(recordNumber) ? t.MarkDeleted() : Status::Corrupt(path, "the record cannot be read");
  if (!s) {
    shop.Index().InvalidateStock();
    return s.WithPath(path);
  }
  shop.Index().NoteStockMarked(t, path, recordNumber);
  return s;
}

Status PurgeStock(ShopContext& shop) {
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  StockFields f;
  if (!ResolveStock(a, &f)) {
    shop.Index().InvalidateStock();
    return a.status();
  }
  // With the index current, the purge is followed without a rescan.
  shop.Index().StockOf(a.table(), path, f.name, {});
  Status s = a.table().Purge();
  if (s)
    shop.Index().NoteStockPurged(a.table(), path);
  else
    shop.Index().InvalidateStock();
  return s.WithPath(path);
}

Status CompactStockIfWorthIt(ShopContext& shop, bool* compacted) {
  if (compacted) *compacted = false;
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  StockFields f;
  if (!ResolveStock(a, &f)) return a.status();
  return CompactWhen(
      shop, a, path, f.name,
      [](std::int32_t marked, std::int32_t records) { return marked * kIdleShare >= records; }, compacted);
}

Status CompactStock(ShopContext& shop, bool* compacted) {
  if (compacted) *compacted = false;
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  StockFields f;
  if (!ResolveStock(a, &f)) return a.status();
  return CompactWhen(
      shop, a, path, f.name, [](std::int32_t, std::int32_t) { return true; }, compacted);
}

std::optional<StockCard> TakeStockCard(ShopContext& shop, std::string_view itemName) {
  const std::string path = shop.StockTablePath();
  TableAccess a(shop, path, true);
  StockFields f;
  if (!ResolveStock(a, &f)) return std::nullopt;
  RecordTable& t = a.table();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::deque<std::int32_t>* positions = shop.Index().StockOf(t, path, f.name, itemName);
    if (!positions) return std::nullopt;
    bool stale = false;
    std::optional<StockCard> card;
    std::int32_t at = 0;
    for (std::int32_t index : *positions) {
      if (!IsLiveCardOf(t, index, f.name, itemName)) {
        stale = attempt == 0;
        if (stale) break;
        continue;
      }
      auto number = t.ReadTextAt(f.number);
      auto password = t.ReadTextAt(f.password);
      // A card whose values cannot be read is never handed out; it stays in
      // the stock for the seller to see.
      if (!number || !password) continue;
      card.emplace();
      card->itemName = std::string(itemName);
      card->cardNumber = std::move(*number);
      card->cardPassword = std::move(*password);
      at = index + 1;
      break;
    }
    if (stale) {
      shop.Index().InvalidateStock();
      continue;
    }
    if (!card) return std::nullopt;
    // Once marked the card is out of the stock: every reader passes over
    // marked records, and a crash before the compaction leaves it marked.
    if (!t.MarkDeleted()) {
      shop.Index().InvalidateStock();
      return std::nullopt;
    }
    shop.Index().NoteStockMarked(t, path, at);
    // The card is out of the stock whether or not the compaction works; a
    // failed one is tried again at idle.
    CompactWhen(
        shop, a, path, f.name,
        [](std::int32_t marked, std::int32_t records) { return marked * kTakeShare >= records; }, nullptr);
    return card;
  }
  return std::nullopt;
}

}  // namespace autodeliver
