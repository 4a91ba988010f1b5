// The program's standing delivery observers; see delivery_monitor.h.
#include "delivery/delivery_monitor.h"

namespace autodeliver {

DeliveryMonitor::DeliveryMonitor(DeliveryEvents* extra) : policy_(&notifier_) {
  Add(&log_);
  Add(&policy_);
  Add(extra);
}

}  // namespace autodeliver
