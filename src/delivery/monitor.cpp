// The program's standing delivery observers; see monitor.h.
#include "delivery/monitor.h"

namespace autodeliver {

DeliveryMonitor::DeliveryMonitor(DeliveryEvents* extra)
    : policy_(&notifier_), status_(CountOrdersDeliveredToday()) {
  Add(&log_);
  Add(&policy_);
  Add(&status_);
  Add(extra);
}

}  // namespace autodeliver
