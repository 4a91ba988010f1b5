// Hands every delivery event to several observers, in the order they were
// added: the delivery controller takes one observer, the program has many
// (the log, the notification policy, the window's bridge, a demo's).
//
// Thread safety: Add and Remove may be called from any thread while events
// flow. Remove waits for an event being handed out, so an observer is never
// called once Remove returned; an observer therefore must not call Add or
// Remove itself, nor wait for the thread that removes it (hand work to the
// window's thread with queued, not blocking, calls).
#pragma once

#include <memory>
#include <vector>

#include "base/mutex.h"
#include "delivery/events.h"

namespace autodeliver {

class DeliveryEventsFanOut : public DeliveryEvents {
 public:
  // `observer` must stay alive until it is removed or the fan-out goes.
  void Add(DeliveryEvents* observer);
  void Remove(DeliveryEvents* observer);

  void CycleStarted() override;
  void OrdersScanned(const OrderScan& scan) override;
  void OrderSeen(const PendingOrder& order) override;
  void OrderSkipped(const PendingOrder& order, SkipReason reason) override;
  void OrderHeld(const PendingOrder& order, HoldReason reason, bool news) override;
  void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) override;
  void OrderNotWritten(const PendingOrder& order, const Status& cause) override;
  void CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) override;
  void StockAfterDelivery(const PendingOrder& order, int cardsLeft) override;
  void MessageHanded(const PendingOrder& order, bool handed) override;
  void OrderConsigned(const PendingOrder& order, bool answered) override;
  void OrderRecovered(const PendingOrder& order, RecoveryAction action, bool ok,
                      const Status& cause) override;
  void LoginStateChanged(bool looksExpired) override;
  void CycleEnded(const CycleResult& result) override;
  void OrderResent(const ResendResult& result) override;

 private:
  template <typename Call>
  void Each(const Call& call);

  // Removal waits for a running event (the delivery thread holds `calling_`
  // while it calls out), so an observer is never called after Remove.
  Mutex calling_;
  Mutex mutex_;
  std::vector<DeliveryEvents*> observers_ AD_GUARDED_BY(mutex_);
};

}  // namespace autodeliver
