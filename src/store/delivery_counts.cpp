// Cards delivered per day; see delivery_counts.h.
#include "store/delivery_counts.h"

#include <set>
#include <string_view>
#include <unordered_set>

#include "text/gbk.h"

namespace autodeliver {
namespace {

using std::chrono::sys_days;

// Reads ASCII digits at `at` (at most 4) and the GBK unit `unit` after them.
std::optional<int> NumberThen(std::string_view text, std::size_t& at, const std::string& unit) {
  int value = 0;
  std::size_t digits = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
    value = value * 10 + (text[at] - '0');
    ++at;
    ++digits;
  }
  if (digits == 0 || text.compare(at, unit.size(), unit) != 0) return std::nullopt;
  at += unit.size();
  return value;
}

}  // namespace

std::optional<std::chrono::year_month_day> SentAtDate(std::string_view sentAt) {
  static const std::string kYear = "年"_gbk;
  static const std::string kMonth = "月"_gbk;
  static const std::string kDay = "日"_gbk;
  std::size_t at = 0;
  const std::optional<int> y = NumberThen(sentAt, at, kYear);
  if (!y) return std::nullopt;
  const std::optional<int> m = NumberThen(sentAt, at, kMonth);
  if (!m) return std::nullopt;
  const std::optional<int> d = NumberThen(sentAt, at, kDay);
  if (!d) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*y), std::chrono::month(static_cast<unsigned>(*m)),
                                         std::chrono::day(static_cast<unsigned>(*d))};
  if (!date.ok()) return std::nullopt;
  return date;
}

std::chrono::year_month_day LocalDate(std::time_t now) {
  std::tm t{};
  localtime_r(&now, &t);
  return std::chrono::year_month_day{std::chrono::year(t.tm_year + 1900),
                                     std::chrono::month(static_cast<unsigned>(t.tm_mon + 1)),
                                     std::chrono::day(static_cast<unsigned>(t.tm_mday))};
}

DeliveryCounts CountDeliveriesPerDay(const std::vector<SentCard>& cards, std::chrono::year_month_day lastDay,
                                     int dayCount, const std::string* itemName) {
  if (dayCount < 1) dayCount = 1;
  DeliveryCounts counts;
  const sys_days last{lastDay};
  const sys_days first = last - std::chrono::days(dayCount - 1);
  counts.days.reserve(static_cast<std::size_t>(dayCount));
  for (sys_days d = first; d <= last; d += std::chrono::days(1))
    counts.days.push_back({std::chrono::year_month_day{d}});

  std::vector<std::unordered_set<std::string_view>> ordersOfDay(static_cast<std::size_t>(dayCount));
  std::unordered_set<std::string_view> allOrders;
  for (const SentCard& card : cards) {
    if (itemName != nullptr && card.itemName != *itemName) continue;
    const std::optional<std::chrono::year_month_day> date = SentAtDate(card.sentAt);
    if (!date) {
      ++counts.unreadable;
      continue;
    }
    const sys_days day{*date};
    if (day < first || day > last) continue;
    const auto index = static_cast<std::size_t>((day - first).count());
    ++counts.days[index].cards;
    ++counts.cards;
    ordersOfDay[index].insert(card.orderNumber);
    allOrders.insert(card.orderNumber);
  }
  for (std::size_t i = 0; i < counts.days.size(); ++i)
    counts.days[i].orders = static_cast<int>(ordersOfDay[i].size());
  counts.orders = static_cast<int>(allOrders.size());
  return counts;
}

std::vector<std::string> SentItemNames(const std::vector<SentCard>& cards) {
  std::vector<std::string> names;
  std::set<std::string_view> seen;
  for (const SentCard& card : cards) {
    if (seen.insert(card.itemName).second) names.push_back(card.itemName);
  }
  return names;
}

}  // namespace autodeliver
