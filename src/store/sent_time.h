// The delivery time text stored with every delivered card: the local date as
// "Y年M月D日" followed by "H时M分S秒", "H时M分" or "H时" depending on which
// trailing parts are zero (9:05:00 on 20 November 2012 reads
// "2012年11月20日9时5分"). Numbers carry no leading zeros.
#pragma once

#include <ctime>
#include <string>

namespace autodeliver {

// The GBK text for the local broken-down time `t`.
std::string FormatSentAt(const std::tm& t);

// The GBK text for the current local time.
std::string SentAtNow();

}  // namespace autodeliver
