#include "store/store_ops.h"

#include <algorithm>
#include <string>

#include "store/shop_paths.h"
#include "store/store_index.h"
#include "store/table_access.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {

namespace {

struct Names {
  std::string itemName = "宝贝名称"_gbk;
  std::string remark = "宝贝备注"_gbk;
  std::string limit = "限拍件数"_gbk;
  std::string needsCard = "是否需要卡密信息"_gbk;
  std::string cardNumber = "宝贝卡号"_gbk;
  std::string cardPassword = "宝贝卡密"_gbk;
  std::string orderNumber = "订单编号"_gbk;
  std::string buyerNick = "买家旺旺"_gbk;
  std::string quantity = "购买数量"_gbk;
  std::string sentNumber = "已发卡号"_gbk;
  std::string sentPassword = "已发卡密"_gbk;
  std::string sentRemark = "已发备注"_gbk;
  std::string sentAt = "发货时间"_gbk;
  std::string yes = "真"_gbk;
  std::string no = "假"_gbk;
  std::string yesAlt = "是"_gbk;
};

const Names& N() {
  static const Names names;
  return names;
}

bool IsLive(RecordTable& t) { return t.RecordId() > 0; }

// True when field `index` of the cursor's record reads exactly `text`; a
// value that cannot be read matches nothing.
bool FieldEquals(RecordTable& t, int index, std::string_view text) {
  std::optional<std::string> v = t.ReadTextAt(index);
  return v && *v == text;
}

FieldValues ItemValues(const MonitoredItem& item) {
  return {item.name, item.remark, std::to_string(item.purchaseLimit), item.needsCard ? N().yes : N().no};
}

struct ItemFields {
  int name, remark, limit, needsCard;
};

bool ResolveItem(TableAccess& a, ItemFields* f) {
  return a.Resolve({N().itemName, N().remark, N().limit, N().needsCard}, &f->name, &f->remark, &f->limit,
                   &f->needsCard);
}

std::optional<MonitoredItem> ReadItem(RecordTable& t, const ItemFields& f) {
  auto name = t.ReadTextAt(f.name);
  auto remark = t.ReadTextAt(f.remark);
  auto limit = t.ReadTextAt(f.limit);
  auto needs = t.ReadTextAt(f.needsCard);
  if (!name || !remark || !limit || !needs) return std::nullopt;
  MonitoredItem item;
  item.name = std::move(*name);
  item.remark = std::move(*remark);
  item.purchaseLimit = TextToInt(*limit);
  item.needsCard = *needs == N().yes || *needs == N().yesAlt;
  return item;
}

// The items table is only marked by DeleteItemAt, which purges in the same
// access; a mark found later is left by an access that was cut short. It
// is purged before a load so that row r of a list is record r + 1.
void PurgeLeftoverMarks(RecordTable& t) {
  std::int32_t n = t.RecordCount();
  for (std::int32_t i = 1; i <= n; ++i) {
    t.GoTo(i);
    if (!IsLive(t)) {
      t.Purge();
      return;
    }
  }
}

}  // namespace

// ---- monitored items

std::optional<MonitoredItem> ReadItemAt(int recordNumber) {
  TableAccess a(ItemsTablePath(), false);
  ItemFields f;
  if (!ResolveItem(a, &f) || !a.table().GoTo(recordNumber)) return std::nullopt;
  return ReadItem(a.table(), f);
}

bool WriteItemAt(int recordNumber, const MonitoredItem& item) {
  TableAccess a(ItemsTablePath(), true);
  if (!a || !a.table().GoTo(recordNumber)) return false;
  store_index::InvalidateItems();
  return a.table().Modify(ItemValues(item));
}

bool LoadItems(std::vector<MonitoredItem>* items) {
  TableAccess a(ItemsTablePath(), true);
  ItemFields f;
  if (!ResolveItem(a, &f)) return false;
  RecordTable& t = a.table();
  store_index::InvalidateItems();
  PurgeLeftoverMarks(t);
  std::vector<MonitoredItem> out;
  std::int32_t n = t.RecordCount();
  t.GoTo(1);
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (!IsLive(t)) continue;
    // An unreadable row still takes its place, so rows keep matching records.
    out.push_back(ReadItem(t, f).value_or(MonitoredItem{}));
  }
  *items = std::move(out);
  return true;
}

std::vector<std::string> LoadItemNames() {
  std::vector<MonitoredItem> items;
  std::vector<std::string> names;
  if (!LoadItems(&items)) return names;
  for (auto& item : items) names.push_back(std::move(item.name));
  return names;
}

bool ItemExists(std::string_view name) {
  const std::string path = ItemsTablePath();
  TableAccess a(path, false);
  int f;
  if (!a.Resolve({N().itemName}, &f)) return false;
  bool ok = false;
  return store_index::ItemNamed(a.table(), path, f, name, &ok);
}

bool AppendItem(const MonitoredItem& item) {
  TableAccess a(ItemsTablePath(), true);
  store_index::InvalidateItems();
  return a && a.table().Append(ItemValues(item));
}

bool DeleteItemAt(int recordNumber) {
  TableAccess a(ItemsTablePath(), true);
  if (!a || !a.table().GoTo(recordNumber)) return false;
  store_index::InvalidateItems();
  bool marked = a.table().MarkDeleted();
  a.table().Purge();
  return marked;
}

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
  return a.Resolve({N().itemName, N().cardNumber, N().cardPassword}, &f->name, &f->number, &f->password);
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
// `worth` says so for (marked, records).
bool CompactWhen(TableAccess& a, const std::string& path, int nameField,
                 const std::function<bool(std::int32_t, std::int32_t)>& worth) {
  RecordTable& t = a.table();
  if (!store_index::StockOf(t, path, nameField, {})) return false;
  const std::int32_t marked = store_index::StockMarked(path);
  if (marked == 0 || !worth(marked, t.RecordCount())) return false;
  const bool ok = t.Purge();
  if (ok)
    store_index::NoteStockPurged(t, path);
  else
    store_index::InvalidateStock();
  return ok;
}

}  // namespace

bool AppendStockCard(const StockCard& card) {
  const std::string path = StockTablePath();
  TableAccess a(path, true);
  if (!a || !a.table().Append({card.itemName, card.cardNumber, card.cardPassword})) return false;
  store_index::NoteStockAppended(a.table(), path, card.itemName);
  return true;
}

std::size_t AppendStockCards(std::string_view itemName, std::span<const ImportedCard> cards,
                             const std::function<bool(std::size_t handled)>& afterBatch,
                             std::size_t batchSize, std::vector<std::size_t>* refused) {
  const std::string path = StockTablePath();
  TableAccess a(path, true);
  if (!a || cards.empty()) return 0;
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
    for (; handled < end; ++handled) {
      values[1] = cards[handled].cardNumber;
      values[2] = cards[handled].cardPassword;
      const bool fit = fits(cards[handled]);
      if (fit && t.Append(values)) {
        appended.push_back(handled);
        continue;
      }
      // An append of a card that fits fails when writing the appends before
      // it failed: those are lost, and the import ends where the file does.
      if (fit && !t.Flush()) {
        failed = true;
        break;
      }
      if (refused == nullptr) {
        stop = true;
        break;
      }
      refused->push_back(handled);
    }
    failed = failed || !t.Flush();
    const std::int32_t written = t.RecordCount() - countBefore;
    if (written > 0) store_index::NoteStockAppended(t, path, itemName, written);
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

std::vector<StockCard> LoadStockCardsOf(std::string_view itemName) {
  return LoadFirstStockCardsOf(itemName, static_cast<std::size_t>(-1), nullptr);
}

std::vector<StockCard> LoadFirstStockCardsOf(std::string_view itemName, std::size_t limit,
                                             std::size_t* total) {
  std::vector<StockCard> cards;
  if (total) *total = 0;
  const std::string path = StockTablePath();
  TableAccess a(path, false);
  StockFields f;
  if (!ResolveStock(a, &f)) return cards;
  RecordTable& t = a.table();
  // A position that no longer holds the card the index names (a write the
  // change test could not see) rebuilds the index once; after that, a card
  // that does not read back is passed over as an unreadable one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::deque<std::int32_t>* positions = store_index::StockOf(t, path, f.name, itemName);
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
    store_index::InvalidateStock();
  }
  return cards;
}

bool LoadAllStockCards(std::vector<StockCard>* cards) {
  TableAccess a(StockTablePath(), false);
  int fName, fNumber, fPassword;
  if (!a.Resolve({N().itemName, N().cardNumber, N().cardPassword}, &fName, &fNumber, &fPassword))
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

bool RenameStockItem(std::string_view oldName, std::string_view newName) {
  TableAccess a(StockTablePath(), true);
  int fName;
  if (!a.Resolve({N().itemName}, &fName)) return false;
  store_index::InvalidateStock();
  RecordTable& t = a.table();
  std::int32_t n = t.RecordCount();
  bool ok = true;
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (IsLive(t) && FieldEquals(t, fName, oldName) && !t.Modify({std::string(newName)})) ok = false;
  }
  return ok;
}

bool MarkStockCardsOf(std::string_view itemName) {
  TableAccess a(StockTablePath(), true);
  int fName;
  if (!a.Resolve({N().itemName}, &fName)) return false;
  store_index::InvalidateStock();
  return a.table().MarkDeletedWhere([&](RecordTable& t) { return FieldEquals(t, fName, itemName); });
}

bool MarkStockCardAt(int recordNumber) {
  const std::string path = StockTablePath();
  TableAccess a(path, true);
  if (!a) return false;
  RecordTable& t = a.table();
  // A number outside the table marks nothing.
  if (recordNumber < 1 || recordNumber > t.RecordCount()) return true;
  if (!t.GoTo(recordNumber) || !t.MarkDeleted()) {
    store_index::InvalidateStock();
    return false;
  }
  store_index::NoteStockMarked(t, path, recordNumber);
  return true;
}

bool PurgeStock() {
  const std::string path = StockTablePath();
  TableAccess a(path, true);
  StockFields f;
  if (!ResolveStock(a, &f)) {
    store_index::InvalidateStock();
    return a && a.table().Purge();
  }
  // With the index current, the purge is followed without a rescan.
  store_index::StockOf(a.table(), path, f.name, {});
  const bool ok = a.table().Purge();
  if (ok)
    store_index::NoteStockPurged(a.table(), path);
  else
    store_index::InvalidateStock();
  return ok;
}

bool CompactStockIfWorthIt() {
  const std::string path = StockTablePath();
  TableAccess a(path, true);
  StockFields f;
  if (!ResolveStock(a, &f)) return false;
  return CompactWhen(a, path, f.name, [](std::int32_t marked, std::int32_t records) {
    return marked * kIdleShare >= records;
  });
}

bool CompactStock() {
  const std::string path = StockTablePath();
  TableAccess a(path, true);
  StockFields f;
  if (!ResolveStock(a, &f)) return false;
  return CompactWhen(a, path, f.name, [](std::int32_t, std::int32_t) { return true; });
}

std::optional<StockCard> TakeStockCard(std::string_view itemName) {
  const std::string path = StockTablePath();
  TableAccess a(path, true);
  StockFields f;
  if (!ResolveStock(a, &f)) return std::nullopt;
  RecordTable& t = a.table();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::deque<std::int32_t>* positions = store_index::StockOf(t, path, f.name, itemName);
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
      store_index::InvalidateStock();
      continue;
    }
    if (!card) return std::nullopt;
    // Once marked the card is out of the stock: every reader passes over
    // marked records, and a crash before the compaction leaves it marked.
    if (!t.MarkDeleted()) {
      store_index::InvalidateStock();
      return std::nullopt;
    }
    store_index::NoteStockMarked(t, path, at);
    CompactWhen(a, path, f.name,
                [](std::int32_t marked, std::int32_t records) { return marked * kTakeShare >= records; });
    return card;
  }
  return std::nullopt;
}

// ---- sent cards

bool SentCardExists(std::string_view orderNumber) {
  const std::string path = SentTablePath();
  TableAccess a(path, false);
  int f;
  if (!a.Resolve({N().orderNumber}, &f)) return false;
  bool ok = false;
  return store_index::SentOrderExists(a.table(), path, f, orderNumber, &ok);
}

bool AppendSentCard(const SentCard& card) {
  const std::string path = SentTablePath();
  TableAccess a(path, true);
  if (!a) return false;
  RecordTable& t = a.table();
  // The index is brought current first, so the append can be followed.
  const int f = t.FieldIndex(N().orderNumber);
  bool indexed = false;
  if (f >= 0) store_index::SentOrderExists(t, path, f, card.orderNumber, &indexed);
  if (!t.Append({card.itemName, card.orderNumber, card.buyerNick, std::to_string(card.quantity),
                 card.cardNumber, card.cardPassword, card.remark, card.sentAt})) {
    store_index::InvalidateSent();
    return false;
  }
  if (indexed)
    store_index::NoteSentAppended(t, path, card.orderNumber);
  else
    store_index::InvalidateSent();
  return true;
}

bool LoadSentCards(std::vector<SentCard>* cards) {
  TableAccess a(SentTablePath(), false);
  int f[8];
  if (!a.Resolve({N().itemName, N().orderNumber, N().buyerNick, N().quantity, N().sentNumber,
                  N().sentPassword, N().sentRemark, N().sentAt},
                 &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7]))
    return false;
  RecordTable& t = a.table();
  std::vector<SentCard> out;
  std::int32_t n = t.RecordCount();
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (!IsLive(t)) continue;
    auto v = [&](int k) { return t.ReadTextAt(f[k]).value_or(std::string()); };
    SentCard c;
    c.itemName = v(0);
    c.orderNumber = v(1);
    c.buyerNick = v(2);
    c.quantity = TextToInt(v(3));
    c.cardNumber = v(4);
    c.cardPassword = v(5);
    c.remark = v(6);
    c.sentAt = v(7);
    out.push_back(std::move(c));
  }
  *cards = std::move(out);
  return true;
}

}  // namespace autodeliver
