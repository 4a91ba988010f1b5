#include "store/sent_time.h"

#include <gtest/gtest.h>

#include "text/gbk.h"

namespace autodeliver {
namespace {

TEST(SentAt, DropsTrailingZeroParts) {
  struct Case {
    int hour, minute, second;
    std::string expected;
  } cases[] = {
      {9, 5, 7, "2012年11月20日9时5分7秒"_gbk}, {9, 5, 0, "2012年11月20日9时5分"_gbk},
      {9, 0, 0, "2012年11月20日9时"_gbk},       {0, 0, 0, "2012年11月20日"_gbk},
      {0, 0, 3, "2012年11月20日0时0分3秒"_gbk}, {0, 7, 0, "2012年11月20日0时7分"_gbk},
  };
  for (const auto& c : cases) {
    std::tm t{};
    t.tm_year = 112;
    t.tm_mon = 10;
    t.tm_mday = 20;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    EXPECT_EQ(FormatSentAt(t), c.expected);
  }
}

}  // namespace
}  // namespace autodeliver
