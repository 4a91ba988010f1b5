#include "store/sent_time.h"

#include <string>

#include "text/gbk.h"

namespace autodeliver {

std::string FormatSentAt(const std::tm& t) {
  static const std::string kYear = "年"_gbk, kMonth = "月"_gbk, kDay = "日"_gbk;
  static const std::string kHour = "时"_gbk, kMinute = "分"_gbk, kSecond = "秒"_gbk;
  std::string out = std::to_string(t.tm_year + 1900) + kYear + std::to_string(t.tm_mon + 1) + kMonth +
                    std::to_string(t.tm_mday) + kDay;
  if (t.tm_sec != 0) {
    out += std::to_string(t.tm_hour) + kHour + std::to_string(t.tm_min) + kMinute + std::to_string(t.tm_sec) +
           kSecond;
  } else if (t.tm_min != 0) {
    out += std::to_string(t.tm_hour) + kHour + std::to_string(t.tm_min) + kMinute;
  } else if (t.tm_hour != 0) {
    out += std::to_string(t.tm_hour) + kHour;
  }
  return out;
}

std::string SentAtNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return FormatSentAt(local);
}

}  // namespace autodeliver
