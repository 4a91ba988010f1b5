// The cards waiting orders need, per item; see waiting_needs.h.
#include "delivery/waiting_needs.h"

#include <climits>

#include "delivery/cycle.h"

namespace autodeliver {

StockCounts WaitingNeeds::Last() const {
  MutexLock lock(mutex_);
  return last_;
}

void WaitingNeeds::CycleStarted() { cycle_.clear(); }

void WaitingNeeds::OrderWaiting(const PendingOrder& order, WaitReason reason, int) {
  if (reason != WaitReason::kStockShort || order.quantity <= 0) return;
  int& need = cycle_[order.itemTitle];
  need = order.quantity > INT_MAX - need ? INT_MAX : need + order.quantity;
}

void WaitingNeeds::CycleEnded(const CycleResult& result) {
  const bool sawEveryOrder =
      result.scanOutcome == ScanOutcome::kListed && !result.stopped && !result.endedAtImFailure;
  if (!sawEveryOrder) return;
  {
    MutexLock lock(mutex_);
    last_ = cycle_;
  }
  if (handover_) handover_(cycle_);
}

}  // namespace autodeliver
