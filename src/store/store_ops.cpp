#include "store/store_ops.h"

#include <algorithm>
#include <string>

#include "store/data_paths.h"
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
  return a.table().Modify(ItemValues(item));
}

bool LoadItems(std::vector<MonitoredItem>* items) {
  TableAccess a(ItemsTablePath(), true);
  ItemFields f;
  if (!ResolveItem(a, &f)) return false;
  RecordTable& t = a.table();
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
  TableAccess a(ItemsTablePath(), false);
  int f;
  if (!a.Resolve({N().itemName}, &f)) return false;
  return a.table().Find([&](RecordTable& t) { return IsLive(t) && FieldEquals(t, f, name); });
}

bool AppendItem(const MonitoredItem& item) {
  TableAccess a(ItemsTablePath(), true);
  return a && a.table().Append(ItemValues(item));
}

bool DeleteItemAt(int recordNumber) {
  TableAccess a(ItemsTablePath(), true);
  if (!a || !a.table().GoTo(recordNumber)) return false;
  bool marked = a.table().MarkDeleted();
  a.table().Purge();
  return marked;
}

// ---- card stock

bool AppendStockCard(const StockCard& card) {
  TableAccess a(StockTablePath(), true);
  return a && a.table().Append({card.itemName, card.cardNumber, card.cardPassword});
}

std::size_t AppendStockCards(std::string_view itemName, std::span<const ImportedCard> cards,
                             const std::function<bool(std::size_t written)>& afterBatch,
                             std::size_t batchSize) {
  TableAccess a(StockTablePath(), true);
  if (!a || cards.empty()) return 0;
  if (batchSize == 0) batchSize = cards.size();
  RecordTable& t = a.table();
  FieldValues values(3);
  values[0] = std::string(itemName);
  std::size_t written = 0;
  while (written < cards.size()) {
    const std::size_t end = std::min(cards.size(), written + batchSize);
    for (; written < end; ++written) {
      values[1] = cards[written].cardNumber;
      values[2] = cards[written].cardPassword;
      if (!t.Append(values)) return written;
    }
    if (afterBatch && !afterBatch(written)) break;
  }
  return written;
}

std::vector<StockCard> LoadStockCardsOf(std::string_view itemName) {
  std::vector<StockCard> cards;
  TableAccess a(StockTablePath(), false);
  int fName, fNumber, fPassword;
  if (!a.Resolve({N().itemName, N().cardNumber, N().cardPassword}, &fName, &fNumber, &fPassword))
    return cards;
  RecordTable& t = a.table();
  std::int32_t n = t.RecordCount();
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (!IsLive(t) || !FieldEquals(t, fName, itemName)) continue;
    StockCard card;
    card.itemName = std::string(itemName);
    card.cardNumber = t.ReadTextAt(fNumber).value_or(std::string());
    card.cardPassword = t.ReadTextAt(fPassword).value_or(std::string());
    card.recordNumber = t.RecordNumber();
    cards.push_back(std::move(card));
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
  return a.table().MarkDeletedWhere([&](RecordTable& t) { return FieldEquals(t, fName, itemName); });
}

bool MarkStockCardAt(int recordNumber) {
  TableAccess a(StockTablePath(), true);
  if (!a) return false;
  return a.table().MarkDeletedWhere([&](RecordTable& t) { return t.RecordNumber() == recordNumber; });
}

bool PurgeStock() {
  TableAccess a(StockTablePath(), true);
  return a && a.table().Purge();
}

std::optional<StockCard> TakeStockCard(std::string_view itemName) {
  TableAccess a(StockTablePath(), true);
  int fName, fNumber, fPassword;
  if (!a.Resolve({N().itemName, N().cardNumber, N().cardPassword}, &fName, &fNumber, &fPassword))
    return std::nullopt;
  RecordTable& t = a.table();
  std::int32_t n = t.RecordCount();
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (!IsLive(t) || !FieldEquals(t, fName, itemName)) continue;
    auto number = t.ReadTextAt(fNumber);
    auto password = t.ReadTextAt(fPassword);
    // A card whose values cannot be read is never handed out; it stays in
    // the stock for the seller to see.
    if (!number || !password) continue;
    if (!t.MarkDeleted()) return std::nullopt;
    // Once marked the card is out of the stock even if the purge fails:
    // every reader passes over marked records.
    t.Purge();
    StockCard card;
    card.itemName = std::string(itemName);
    card.cardNumber = std::move(*number);
    card.cardPassword = std::move(*password);
    return card;
  }
  return std::nullopt;
}

// ---- sent cards

bool SentCardExists(std::string_view orderNumber) {
  TableAccess a(SentTablePath(), false);
  int f;
  if (!a.Resolve({N().orderNumber}, &f)) return false;
  return a.table().Find([&](RecordTable& t) { return IsLive(t) && FieldEquals(t, f, orderNumber); });
}

bool AppendSentCard(const SentCard& card) {
  TableAccess a(SentTablePath(), true);
  return a &&
         a.table().Append({card.itemName, card.orderNumber, card.buyerNick, std::to_string(card.quantity),
                           card.cardNumber, card.cardPassword, card.remark, card.sentAt});
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
