// The remembered delivery switch; see remembered_switch.h.
#include "delivery/remembered_switch.h"

#include <string>

#include "delivery/scan_interval.h"
#include "store/settings.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

const std::string& SwitchSetting() {
  static const std::string kName = "自动发货开关"_gbk;
  return kName;
}

const std::string& IntervalSetting() {
  static const std::string kName = "自动发货扫描间隔"_gbk;
  return kName;
}

}  // namespace

RememberedSwitch LoadRememberedSwitch(ShopContext& shop) {
  RememberedSwitch remembered;
  const ScanIntervalCheck interval = CheckScanInterval(GetSetting(shop, IntervalSetting()));
  if (interval.seconds) remembered.seconds = *interval.seconds;
  remembered.on = GetSetting(shop, SwitchSetting()) == "1" && interval.seconds.has_value();
  return remembered;
}

bool RememberSwitch(ShopContext& shop, bool on, std::optional<int> seconds) {
  bool ok = PutSetting(shop, SwitchSetting(), on ? "1" : "0").ok();
  if (seconds) ok = PutSetting(shop, IntervalSetting(), std::to_string(*seconds)) && ok;
  return ok;
}

}  // namespace autodeliver
