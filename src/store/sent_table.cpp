#include "store/sent_table.h"

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

bool SentCardExists(ShopContext& shop, std::string_view orderNumber) {
  const std::string path = shop.SentTablePath();
  TableAccess a(shop, path, false);
  int f;
  if (!a.Resolve({FieldNames().orderNumber}, &f)) return false;
  bool ok = false;
  return shop.Index().SentOrderExists(a.table(), path, f, orderNumber, &ok);
}

bool AppendSentCard(ShopContext& shop, const SentCard& card) {
  const std::string path = shop.SentTablePath();
  TableAccess a(shop, path, true);
  if (!a) return false;
  RecordTable& t = a.table();
  // The index is brought current first, so the append can be followed.
  const int f = t.FieldIndex(FieldNames().orderNumber);
  bool indexed = false;
  if (f >= 0) shop.Index().SentOrderExists(t, path, f, card.orderNumber, &indexed);
  if (!t.Append({card.itemName, card.orderNumber, card.buyerNick, std::to_string(card.quantity),
                 card.cardNumber, card.cardPassword, card.remark, card.sentAt})) {
    shop.Index().InvalidateSent();
    return false;
  }
  if (indexed)
    shop.Index().NoteSentAppended(t, path, card.orderNumber);
  else
    shop.Index().InvalidateSent();
  return true;
}

bool LoadSentCards(ShopContext& shop, std::vector<SentCard>* cards) {
  TableAccess a(shop, shop.SentTablePath(), false);
  int f[8];
  if (!a.Resolve(
          {FieldNames().itemName, FieldNames().orderNumber, FieldNames().buyerNick, FieldNames().quantity,
           FieldNames().sentNumber, FieldNames().sentPassword, FieldNames().sentRemark, FieldNames().sentAt},
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
