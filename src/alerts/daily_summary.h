// The daily summary, an optional alert at the seller's chosen hour
// ("提醒:每日汇总", "提醒:每日汇总时刻"): what the shop did today and what
// waits for the seller.
//
//   【每日汇总】今日发货 12 笔；未送达买家 1 笔；等待补货 2 笔；库存偏低：点卡10元（剩 2 张）、Q币（剩 0 张）
//
// It goes out once per local day, at the first check at or after the hour;
// the day it went out is kept in the settings row "提醒:每日汇总上次日期"
// ("YYYY-MM-DD"), so a restart later that day does not send it again.
//
// Thread safety: free functions; the row is read and written under the
// store lock.
#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "alerts/alert_channels.h"
#include "alerts/alert_settings.h"
#include "delivery/status_figures.h"

namespace autodeliver {

class ShopContext;

struct DailySummaryFigures {
  int deliveredToday = 0;
  int undelivered = 0;                                // orders whose message never reached the buyer
  int waitingOrders = 0;                              // orders waiting for stock
  std::vector<std::pair<std::string, int>> lowStock;  // item (UTF-8), cards in stock
};

// The figures now: the status figures' counts, the undelivered marks and
// the items at or below their warning level.
DailySummaryFigures GatherDailySummary(ShopContext& shop, const DeliveryStatusFigures& status);

// The summary as an alert (kind "daily_summary"), stamped `at`.
Alert DailySummaryAlert(const DailySummaryFigures& figures, std::time_t at);

// "YYYY-MM-DD" of `at` in local time.
std::string LocalDay(std::time_t at);

// Whether the summary is due at `now`: the local hour is `hour` or later
// and `lastDay` is not today.
bool DailySummaryDue(std::time_t now, int hour, const std::string& lastDay);

// The day the summary last went out, and recording it.
std::string LastDailySummaryDay(ShopContext& shop);
bool RecordDailySummaryDay(ShopContext& shop, const std::string& day);

// Queues the summary on `sender` when the seller asked for it
// (`settings`) and it is due at `now`, and records the day. True when it
// was queued. Called once a minute by the program.
class AlertSender;
bool SendDailySummaryIfDue(ShopContext& shop, AlertSender& sender, const AlertSettings& settings,
                           const DeliveryStatusFigures& status, std::time_t now);

}  // namespace autodeliver
