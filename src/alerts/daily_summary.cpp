// The daily summary; see daily_summary.h.
#include "alerts/daily_summary.h"

#include "alerts/alert_sender.h"
#include "store/settings.h"
#include "store/stock_counts.h"
#include "store/undelivered_orders.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

const std::string& LastDayRow() {
  static const std::string row = Utf8ToGbkLossy("提醒:每日汇总上次日期");
  return row;
}

}  // namespace

DailySummaryFigures GatherDailySummary(ShopContext& shop, const DeliveryStatusFigures& status) {
  DailySummaryFigures f;
  f.deliveredToday = status.deliveredToday;
  f.waitingOrders = status.OrdersWaitingForStock();
  f.undelivered = static_cast<int>(UndeliveredOrders(shop).List().size());
  std::vector<ItemStock> items;
  if (LoadItemStock(shop, {}, &items)) {
    for (const ItemStock& item : items) {
      if (item.Low()) f.lowStock.emplace_back(GbkToUtf8Lossy(item.name), item.inStock);
    }
  }
  return f;
}

Alert DailySummaryAlert(const DailySummaryFigures& f, std::time_t at) {
  Alert alert;
  alert.kind = "daily_summary";
  alert.title = "每日汇总";
  alert.at = at;
  alert.text = "今日发货 " + std::to_string(f.deliveredToday) + " 笔；未送达买家 " +
               std::to_string(f.undelivered) + " 笔；等待补货 " + std::to_string(f.waitingOrders) +
               " 笔；库存偏低：";
  if (f.lowStock.empty()) alert.text += "无";
  for (std::size_t i = 0; i < f.lowStock.size(); ++i) {
    alert.text +=
        (i == 0 ? "" : "、") + f.lowStock[i].first + "（剩 " + std::to_string(f.lowStock[i].second) + " 张）";
  }
  return alert;
}

std::string LocalDay(std::time_t at) {
  std::tm tm{};
  localtime_r(&at, &tm);
  char text[16] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
  return text;
}

bool DailySummaryDue(std::time_t now, int hour, const std::string& lastDay) {
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm.tm_hour >= hour && LocalDay(now) != lastDay;
}

std::string LastDailySummaryDay(ShopContext& shop) { return GetSetting(shop, LastDayRow()); }

bool RecordDailySummaryDay(ShopContext& shop, const std::string& day) {
  return PutSetting(shop, LastDayRow(), day).ok();
}

bool SendDailySummaryIfDue(ShopContext& shop, AlertSender& sender, const AlertSettings& settings,
                           const DeliveryStatusFigures& status, std::time_t now) {
  if (!settings.dailySummary || !settings.AnyChannelUsable()) return false;
  if (!DailySummaryDue(now, settings.summaryHour, LastDailySummaryDay(shop))) return false;
  // The day is recorded first: a table that cannot be written must not
  // bring a summary every minute.
  if (!RecordDailySummaryDay(shop, LocalDay(now))) return false;
  return sender.Send(DailySummaryAlert(GatherDailySummary(shop, status), now));
}

}  // namespace autodeliver
