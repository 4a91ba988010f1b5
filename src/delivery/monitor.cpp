// The program's standing delivery observers; see monitor.h.
#include "delivery/monitor.h"

#include "delivery/notification_settings.h"

namespace autodeliver {

DeliveryMonitor::DeliveryMonitor(ShopContext& shop, DeliveryEvents* extra)
    : log_(shop),
      policy_(&notifier_, StoredNotificationSwitches(shop)),
      status_(CountOrdersDeliveredToday(shop)) {
  Add(&log_);
  Add(&policy_);
  Add(&status_);
  Add(extra);
}

}  // namespace autodeliver
