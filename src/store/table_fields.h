// What the operations on the shop's tables (item_table.h, stock_table.h,
// sent_table.h) share: the tables' field names (GBK) and the reading of a
// record under the cursor. Used inside the store folder only.
//
// Thread safety: the names are built once and then only read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver::shop_tables {

struct TableFieldNames {
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

inline const TableFieldNames& FieldNames() {
  static const TableFieldNames names;
  return names;
}

inline bool IsLive(RecordTable& t) { return t.RecordId() > 0; }

// True when field `index` of the cursor's record reads exactly `text`; a
// value that cannot be read matches nothing.
inline bool FieldEquals(RecordTable& t, int index, std::string_view text) {
  std::optional<std::string> v = t.ReadTextAt(index);
  return v && *v == text;
}

}  // namespace autodeliver::shop_tables
