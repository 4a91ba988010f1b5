// Cards delivered per day, counted from the delivery time ("发货时间") of the
// sent cards: the figures behind the deliveries plot. A delivery time reads
// "2012年11月20日9时5分" (sent_time.h); only its date counts. A card whose
// delivery time does not start with such a date is counted as unreadable
// and left out of the days.
//
// Thread safety: free functions without shared state.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/rows.h"

namespace autodeliver {

// The date a delivery time text (GBK) starts with: year "年" month "月" day
// "日", ASCII digits; nullopt when it does not, or the date does not exist.
std::optional<std::chrono::year_month_day> SentAtDate(std::string_view sentAt);

// The local date of `now`.
std::chrono::year_month_day LocalDate(std::time_t now = std::time(nullptr));

struct DayCount {
  std::chrono::year_month_day day;
  int cards = 0;   // cards delivered that day
  int orders = 0;  // distinct orders among them
};

struct DeliveryCounts {
  std::vector<DayCount> days;  // oldest first, one entry per day, days without deliveries included
  int cards = 0;               // the sum over the days
  int orders = 0;              // the distinct orders over the days
  int unreadable = 0;          // cards (of the item) whose delivery time has no date
};

// The counts of the `dayCount` days that end with `lastDay` (dayCount < 1
// counts as 1); only the cards of `itemName` when it is given (byte-exact
// name). Cards dated after `lastDay` or before the first day are left out.
DeliveryCounts CountDeliveriesPerDay(const std::vector<SentCard>& cards, std::chrono::year_month_day lastDay,
                                     int dayCount = 30, const std::string* itemName = nullptr);

// The item names of the sent cards, each once, in the order of their first
// card.
std::vector<std::string> SentItemNames(const std::vector<SentCard>& cards);

}  // namespace autodeliver
