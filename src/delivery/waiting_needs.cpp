// The cards waiting orders need, per item; see waiting_needs.h.
#include "delivery/waiting_needs.h"

#include <climits>

#include "delivery/delivery_cycle.h"

namespace autodeliver {

StockCounts WaitingNeeds::Last() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

void WaitingNeeds::CycleStarted() {
  cycle_.clear();
  if (next_) next_->CycleStarted();
}

void WaitingNeeds::OrderSeen(const PendingOrder& order) {
  if (next_) next_->OrderSeen(order);
}

void WaitingNeeds::OrderSkipped(const PendingOrder& order, SkipReason reason) {
  if (next_) next_->OrderSkipped(order, reason);
}

void WaitingNeeds::OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {
  if (reason == WaitReason::kStockShort && order.quantity > 0) {
    int& need = cycle_[order.itemTitle];
    need = order.quantity > INT_MAX - need ? INT_MAX : need + order.quantity;
  }
  if (next_) next_->OrderWaiting(order, reason, stockLeft);
}

void WaitingNeeds::CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) {
  if (next_) next_->CardsDelivered(order, cards);
}

void WaitingNeeds::MessageHanded(const PendingOrder& order, bool handed) {
  if (next_) next_->MessageHanded(order, handed);
}

void WaitingNeeds::OrderConsigned(const PendingOrder& order, bool answered) {
  if (next_) next_->OrderConsigned(order, answered);
}

void WaitingNeeds::CycleEnded(const CycleResult& result) {
  // A cycle stopped early saw only some of the orders: its sums would
  // understate what waits, so the last whole cycle's stay.
  if (!result.stopped) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last_ = cycle_;
    }
    if (handover_) handover_(cycle_);
  }
  if (next_) next_->CycleEnded(result);
}

}  // namespace autodeliver
