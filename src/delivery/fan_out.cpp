// The fan-out of delivery events; see fan_out.h.
#include "delivery/fan_out.h"

#include <algorithm>

namespace autodeliver {

void DeliveryEventsFanOut::Add(DeliveryEvents* observer) {
  if (observer == nullptr || observer == this) return;
  MutexLock lock(mutex_);
  observers_.push_back(observer);
}

void DeliveryEventsFanOut::Remove(DeliveryEvents* observer) {
  MutexLock calling(calling_);
  MutexLock lock(mutex_);
  std::erase(observers_, observer);
}

template <typename Call>
void DeliveryEventsFanOut::Each(const Call& call) {
  MutexLock calling(calling_);
  std::vector<DeliveryEvents*> observers;
  {
    MutexLock lock(mutex_);
    observers = observers_;
  }
  for (DeliveryEvents* observer : observers) call(*observer);
}

void DeliveryEventsFanOut::CycleStarted() {
  Each([](DeliveryEvents& o) { o.CycleStarted(); });
}
void DeliveryEventsFanOut::OrdersScanned(const OrderScan& scan) {
  Each([&](DeliveryEvents& o) { o.OrdersScanned(scan); });
}
void DeliveryEventsFanOut::OrderSeen(const PendingOrder& order) {
  Each([&](DeliveryEvents& o) { o.OrderSeen(order); });
}
void DeliveryEventsFanOut::OrderSkipped(const PendingOrder& order, SkipReason reason) {
  Each([&](DeliveryEvents& o) { o.OrderSkipped(order, reason); });
}
void DeliveryEventsFanOut::OrderHeld(const PendingOrder& order, HoldReason reason, bool news) {
  Each([&](DeliveryEvents& o) { o.OrderHeld(order, reason, news); });
}
void DeliveryEventsFanOut::OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {
  Each([&](DeliveryEvents& o) { o.OrderWaiting(order, reason, stockLeft); });
}

void DeliveryEventsFanOut::OrderNotWritten(const PendingOrder& order, const Status& cause) {
  Each([&](DeliveryEvents& o) { o.OrderNotWritten(order, cause); });
}
void DeliveryEventsFanOut::CardsDelivered(const PendingOrder& order,
                                          const std::vector<DeliveredCard>& cards) {
  Each([&](DeliveryEvents& o) { o.CardsDelivered(order, cards); });
}
void DeliveryEventsFanOut::StockAfterDelivery(const PendingOrder& order, int cardsLeft) {
  Each([&](DeliveryEvents& o) { o.StockAfterDelivery(order, cardsLeft); });
}
void DeliveryEventsFanOut::MessageHanded(const PendingOrder& order, bool handed) {
  Each([&](DeliveryEvents& o) { o.MessageHanded(order, handed); });
}
void DeliveryEventsFanOut::OrderConsigned(const PendingOrder& order, bool answered) {
  Each([&](DeliveryEvents& o) { o.OrderConsigned(order, answered); });
}
void DeliveryEventsFanOut::OrderRecovered(const PendingOrder& order, RecoveryAction action, bool ok,
                                          const Status& cause) {
  Each([&](DeliveryEvents& o) { o.OrderRecovered(order, action, ok, cause); });
}
void DeliveryEventsFanOut::LoginStateChanged(bool looksExpired) {
  Each([&](DeliveryEvents& o) { o.LoginStateChanged(looksExpired); });
}
void DeliveryEventsFanOut::CycleEnded(const CycleResult& result) {
  Each([&](DeliveryEvents& o) { o.CycleEnded(result); });
}

void DeliveryEventsFanOut::OrderResent(const ResendResult& result) {
  Each([&](DeliveryEvents& o) { o.OrderResent(result); });
}

}  // namespace autodeliver
