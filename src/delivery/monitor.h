// The program's standing watch over the delivery, always on: the delivery
// log (log.h), the notification policy (notification_policy.h)
// telling the desktop notifier (desktop_notifier.h), the status line's
// figures (status_figures.h), and any further observers (the window's, a
// demo's), all behind the one fan-out that the delivery controller is given:
//
//   DeliveryMonitor monitor(shop, extraObserver);       // log file opened
//   DeliveryController controller(shop, window, sender, &monitor);
//   monitor.log().AddLineSink(...);                     // the log page
//   monitor.Add(&windowBridge);        // tells the window a cycle ended
//   ... monitor.status().Figures() ... // read by the window for its status line
//
// The observers are called in this order: the log, the policy, the status,
// then the extra observer and those added later.
//
// Thread safety: as DeliveryEventsFanOut. The monitor must outlive the
// controller that calls it (or at least its running cycle).
#pragma once

#include "delivery/desktop_notifier.h"
#include "delivery/fan_out.h"
#include "delivery/log.h"
#include "delivery/notification_policy.h"
#include "delivery/status_figures.h"

namespace autodeliver {

class ShopContext;

class DeliveryMonitor : public DeliveryEventsFanOut {
 public:
  // The log at DeliveryLogPath(shop), notifications on the session bus, the
  // orders delivered today counted from the sent-cards table.
  explicit DeliveryMonitor(ShopContext& shop, DeliveryEvents* extra = nullptr);

  DeliveryLog& log() { return log_; }
  NotificationPolicy& notifications() { return policy_; }
  DesktopNotifier& desktopNotifier() { return notifier_; }
  DeliveryStatus& status() { return status_; }

 private:
  DeliveryLog log_;
  DesktopNotifier notifier_;
  NotificationPolicy policy_;
  DeliveryStatus status_;
};

}  // namespace autodeliver
