// The in-memory record types of the four tables. All texts are GBK bytes;
// matching throughout the store is exact byte comparison.
//
// Thread safety: plain values.
#pragma once

#include <string>

namespace autodeliver {

// A row of the settings table (配置.edb).
struct SettingRow {
  std::string name;  // "配置名"
  std::string data;  // "配置数据"
};

// A monitored item (监控宝贝.edb): its orders are delivered.
struct MonitoredItem {
  std::string name;       // "宝贝名称"
  std::string remark;     // "宝贝备注"
  int purchaseLimit = 0;  // "限拍件数", stored as decimal text
  bool needsCard = true;  // "是否需要卡密信息", stored as "真"/"假"
};

// A card in stock (库存卡密.edb).
struct StockCard {
  std::string itemName;      // "宝贝名称"
  std::string cardNumber;    // "宝贝卡号"
  std::string cardPassword;  // "宝贝卡密", "0" when the card has none
  int recordNumber = 0;      // not stored; filled by LoadStockCardsOf
};

// A card as the import reads it, before it has an item: its number and its
// password.
struct ImportedCard {
  std::string cardNumber;
  std::string cardPassword;

  bool operator==(const ImportedCard&) const = default;
};

// A delivered card (已发卡密.edb), never modified or removed.
struct SentCard {
  std::string itemName;      // "宝贝名称"
  std::string orderNumber;   // "订单编号"
  std::string buyerNick;     // "买家旺旺"
  int quantity = 0;          // "购买数量", stored as decimal text
  std::string cardNumber;    // "已发卡号"
  std::string cardPassword;  // "已发卡密"
  std::string remark;        // "已发备注"
  std::string sentAt;        // "发货时间", see sent_time.h
};

}  // namespace autodeliver
