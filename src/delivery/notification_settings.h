// The seller's switches for each kind of desktop notification, kept as rows
// of the settings table that the program adds on first change (the
// installed row and the table's format stay as they are):
//
//   配置名                  配置数据
//   通知:旺旺消息未送出     "1" on, "0" off
//   通知:订单等待补货       ...
//   通知:库存预警
//   通知:订单页无法配对
//   通知:登录已失效
//
// A missing row, or any value other than "0", means on: every kind is on
// until the seller switches it off.
//
// Thread safety: as the settings table (each call takes the store lock).
#pragma once

#include <functional>
#include <string>

#include "delivery/notifier.h"
#include "io/status.h"

namespace autodeliver {

class ShopContext;

// The settings row name of a kind (UTF-8; stored as GBK).
const char* NotificationSettingName(NotificationKind kind);
// The caption of a kind's switch in the settings dialog (UTF-8).
const char* NotificationCaption(NotificationKind kind);

// Reads the switch anew from the settings table.
bool NotificationEnabled(ShopContext& shop, NotificationKind kind);
// Stores the switch, adding its row when missing; the cause, naming the
// settings table, when it could not be written.
Status SetNotificationEnabled(ShopContext& shop, NotificationKind kind, bool enabled);

// NotificationEnabled of `shop`, read anew at each call; `shop` must
// outlive the function.
std::function<bool(NotificationKind)> StoredNotificationSwitches(ShopContext& shop);

}  // namespace autodeliver
