// The delivery switch and the scan interval as the seller last applied
// them, kept across starts in two rows of the settings table (appended
// behind the installed rows): "自动发货开关" ("1" on, "0" off) and
// "自动发货扫描间隔" (whole seconds). After a start the window switches the
// delivery back on with them once the sign-in is recognised.
//
// Thread safety: the settings table takes the store lock; call from any
// thread.
#pragma once

#include <optional>

namespace autodeliver {

class ShopContext;

struct RememberedSwitch {
  bool on = false;
  int seconds = 0;  // an interval CheckScanInterval accepts, or 0
};

// The remembered switch; off when the rows are missing, unreadable, or the
// interval is not one "设置" would accept.
RememberedSwitch LoadRememberedSwitch(ShopContext& shop);

// Keeps the switch and, when given, the interval; false when the settings
// table could not be written.
bool RememberSwitch(ShopContext& shop, bool on, std::optional<int> seconds);

}  // namespace autodeliver
