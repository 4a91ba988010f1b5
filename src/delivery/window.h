// What the delivery cycle changes in the window: the three lists and the
// delivery timer's interval. The window implements it by handing every call
// over to its own thread (queued), so the delivery thread never touches a
// widget; tests fake it.
//
// Thread safety: every method may be called from the delivery thread.
#pragma once

namespace autodeliver {

class DeliveryWindow {
 public:
  virtual ~DeliveryWindow() = default;
  // Refills the monitored-items list, the item chooser of the card-stock
  // page and the sent-cards grid, in this order.
  virtual void RefreshAfterDelivery() = 0;
  // Sets the delivery timer's interval in milliseconds; 0 or less stops it,
  // a positive value (re)starts it.
  virtual void SetTimerInterval(int milliseconds) = 0;
};

}  // namespace autodeliver
