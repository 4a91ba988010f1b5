#include "store/item_table.h"

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

namespace {

FieldValues ItemValues(const MonitoredItem& item) {
  return {item.name, item.remark, std::to_string(item.purchaseLimit),
          item.needsCard ? FieldNames().yes : FieldNames().no};
}

struct ItemFields {
  int name, remark, limit, needsCard;
};

bool ResolveItem(TableAccess& a, ItemFields* f) {
  return a.Resolve({FieldNames().itemName, FieldNames().remark, FieldNames().limit, FieldNames().needsCard},
                   &f->name, &f->remark, &f->limit, &f->needsCard);
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
  item.needsCard = *needs == FieldNames().yes || *needs == FieldNames().yesAlt;
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

std::optional<MonitoredItem> ReadItemAt(ShopContext& shop, int recordNumber) {
  TableAccess a(shop, shop.ItemsTablePath(), false);
  ItemFields f;
  if (!ResolveItem(a, &f) || !a.table().GoTo(recordNumber)) return std::nullopt;
  return ReadItem(a.table(), f);
}

Status WriteItemAt(ShopContext& shop, int recordNumber, const MonitoredItem& item) {
  const std::string path = shop.ItemsTablePath();
  TableAccess a(shop, path, true);
  if (!a) return a.status();
  if (!a.table().GoTo(recordNumber)) return Status::NotFound(path, "the table holds no item");
  shop.Index().InvalidateItems();
  return a.table().Modify(ItemValues(item)).WithPath(path);
}

bool LoadItems(ShopContext& shop, std::vector<MonitoredItem>* items) {
  TableAccess a(shop, shop.ItemsTablePath(), true);
  ItemFields f;
  if (!ResolveItem(a, &f)) return false;
  RecordTable& t = a.table();
  shop.Index().InvalidateItems();
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

std::vector<std::string> LoadItemNames(ShopContext& shop) {
  std::vector<MonitoredItem> items;
  std::vector<std::string> names;
  if (!LoadItems(shop, &items)) return names;
  for (auto& item : items) names.push_back(std::move(item.name));
  return names;
}

bool ItemExists(ShopContext& shop, std::string_view name) {
  const std::string path = shop.ItemsTablePath();
  TableAccess a(shop, path, false);
  int f;
  if (!a.Resolve({FieldNames().itemName}, &f)) return false;
  bool ok = false;
  return shop.Index().ItemNamed(a.table(), path, f, name, &ok);
}

Status AppendItem(ShopContext& shop, const MonitoredItem& item) {
  const std::string path = shop.ItemsTablePath();
  TableAccess a(shop, path, true);
  shop.Index().InvalidateItems();
  if (!a) return a.status();
  return a.table().Append(ItemValues(item)).WithPath(path);
}

Status DeleteItemAt(ShopContext& shop, int recordNumber) {
  const std::string path = shop.ItemsTablePath();
  TableAccess a(shop, path, true);
  if (!a) return a.status();
  if (!a.table().GoTo(recordNumber)) return Status::NotFound(path, "the table holds no item");
  shop.Index().InvalidateItems();
  Status marked = a.table().MarkDeleted().WithPath(path);
  a.table().Purge();
  return marked;
}

}  // namespace autodeliver
