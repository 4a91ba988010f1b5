// The figures behind the deliveries plot: the date of a delivery time text,
// and the cards and orders per day over a window of days, per item or all.
#include "store/delivery_counts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace std::chrono;

TEST(DeliveryCounts, DateOfADeliveryTime) {
  struct Case {
    const char* text;
    int y, m, d;  // 0: no date
  } cases[] = {
      {"2012年11月20日9时5分", 2012, 11, 20},
      {"2024年1月5日", 2024, 1, 5},
      {"2024年2月29日23时59分59秒", 2024, 2, 29},  // a leap day
      {"2023年2月29日", 0, 0, 0},                  // no such day
      {"2024年13月1日", 0, 0, 0},
      {"2024年0月1日", 0, 0, 0},
      {"2024年5月1", 0, 0, 0},
      {"2024-05-01", 0, 0, 0},
      {"", 0, 0, 0},
      {"２０２４年5月1日", 0, 0, 0},  // full-width digits
      {"12024年5月1日", 0, 0, 0},     // more than four digits
  };
  for (const Case& c : cases) {
    const std::optional<year_month_day> date = SentAtDate(Utf8ToGbkLossy(c.text));
    if (c.y == 0) {
      EXPECT_FALSE(date.has_value()) << c.text;
    } else {
      EXPECT_EQ(date,
                year_month_day(year(c.y), month(static_cast<unsigned>(c.m)), day(static_cast<unsigned>(c.d))))
          << c.text;
    }
  }
}

TEST(DeliveryCounts, CardsAndOrdersPerDayOverTheWindow) {
  auto card = [](const char* item, const char* order, const char* at) {
    return SentCard{Utf8ToGbkLossy(item), order, "b", 1, "n", "p", "", Utf8ToGbkLossy(at)};
  };
  const std::vector<SentCard> cards = {
      card("点卡", "1", "2024年2月28日23时"),  // the first day of a 3-day window ending 1 March
      card("点卡", "2", "2024年2月29日1时"),
      card("点卡", "2", "2024年2月29日1时"),
      card("月卡", "3", "2024年2月29日2时"),
      card("点卡", "4", "2024年3月1日"),
      card("点卡", "5", "2024年2月27日23时59分59秒"),  // the day before the window
      card("点卡", "6", "2024年3月2日"),               // after the last day
      card("点卡", "7", "昨天"),                       // no date
  };
  const year_month_day last = 2024y / March / 1;

  const DeliveryCounts all = CountDeliveriesPerDay(cards, last, 3);
  ASSERT_EQ(all.days.size(), 3u);
  EXPECT_EQ(all.days[0].day, 2024y / February / 28);
  EXPECT_EQ(all.days[2].day, last);
  EXPECT_EQ((std::vector<int>{all.days[0].cards, all.days[1].cards, all.days[2].cards}),
            (std::vector<int>{1, 3, 1}));
  EXPECT_EQ((std::vector<int>{all.days[0].orders, all.days[1].orders, all.days[2].orders}),
            (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(all.cards, 5);
  EXPECT_EQ(all.orders, 4);
  EXPECT_EQ(all.unreadable, 1);

  const std::string item = "月卡"_gbk;
  const DeliveryCounts one = CountDeliveriesPerDay(cards, last, 3, &item);
  EXPECT_EQ((std::vector<int>{one.days[0].cards, one.days[1].cards, one.days[2].cards}),
            (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(one.unreadable, 0);

  // Thirty days by default, every day present, across a month's end.
  const DeliveryCounts month = CountDeliveriesPerDay(cards, last);
  ASSERT_EQ(month.days.size(), 30u);
  EXPECT_EQ(month.days.front().day, 2024y / February / 1);
  EXPECT_EQ(month.cards, 6);
  EXPECT_EQ(CountDeliveriesPerDay(cards, last, 0).days.size(), 1u);

  EXPECT_EQ(SentItemNames(cards), (std::vector<std::string>{"点卡"_gbk, "月卡"_gbk}));
}

}  // namespace
}  // namespace autodeliver
