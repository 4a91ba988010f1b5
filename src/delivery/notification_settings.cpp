// The notification switches in the settings table; see
// notification_settings.h.
#include "delivery/notification_settings.h"

#include "store/settings.h"
#include "text/gbk.h"

namespace autodeliver {

const char* NotificationSettingName(NotificationKind kind) {
  switch (kind) {
    case NotificationKind::kImFailed:
      return "通知:旺旺消息未送出";
    case NotificationKind::kWaitingForStock:
      return "通知:订单等待补货";
    case NotificationKind::kStockWarning:
      return "通知:库存预警";
    case NotificationKind::kPageUnpaired:
      return "通知:订单页无法配对";
    case NotificationKind::kLoginExpired:
      return "通知:登录已失效";
    case NotificationKind::kOrderHeld:
      return "通知:订单被发货规则拦下";
  }
  return "通知:其他";
}

const char* NotificationCaption(NotificationKind kind) {
  switch (kind) {
    case NotificationKind::kImFailed:
      return "卡密消息没能交给旺旺时";
    case NotificationKind::kWaitingForStock:
      return "订单因库存不足开始等待补货时";
    case NotificationKind::kStockWarning:
      return "监控宝贝的库存降到预警数量时";
    case NotificationKind::kPageUnpaired:
      return "订单页上的订单信息无法配对时";
    case NotificationKind::kLoginExpired:
      return "淘宝登录似乎已失效时";
    case NotificationKind::kOrderHeld:
      return "订单被发货规则拦下（黑名单、限拍、待确认）时";
  }
  return "";
}

bool NotificationEnabled(ShopContext& shop, NotificationKind kind) {
  return GetSetting(shop, Utf8ToGbkLossy(NotificationSettingName(kind))) != "0";
}

Status SetNotificationEnabled(ShopContext& shop, NotificationKind kind, bool enabled) {
  return PutSetting(shop, Utf8ToGbkLossy(NotificationSettingName(kind)), enabled ? "1" : "0");
}

std::function<bool(NotificationKind)> StoredNotificationSwitches(ShopContext& shop) {
  return [&shop](NotificationKind kind) { return NotificationEnabled(shop, kind); };
}

}  // namespace autodeliver
