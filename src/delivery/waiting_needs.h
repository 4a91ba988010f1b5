// The cards that the orders of the last delivery cycle wait for, per item:
// an observer of the cycle (events.h) that adds up, from the start
// of a cycle to its end, the bought quantities of the orders that waited
// because the stock of their item held too few cards, per item title. At
// the end of each cycle that went through the whole order list it hands
// the sums over; the items page shows them as "待发" beside the stock. A
// cycle that saw only part of the list (the page could not be read, the
// cycle was stopped or ended at a message the IM client did not take)
// leaves the last whole cycle's sums standing.
//
// Thread safety: the events come on the delivery thread, and the hand-over
// runs there (the window passes the sums on to its own thread with a
// queued call). SetHandover must be called before the first cycle starts.
// Last() may be called from any thread.
#pragma once

#include <functional>

#include "base/mutex.h"
#include "delivery/events.h"
#include "store/stock_counts.h"

namespace autodeliver {

class WaitingNeeds : public DeliveryEvents {
 public:
  // Called on the delivery thread with the sums of a whole cycle.
  using Handover = std::function<void(const StockCounts& needs)>;

  void SetHandover(Handover handover) { handover_ = std::move(handover); }

  // The sums of the last whole cycle; empty before the first.
  StockCounts Last() const;

  void CycleStarted() override;
  void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) override;
  void CycleEnded(const CycleResult& result) override;

 private:
  Handover handover_;
  StockCounts cycle_;  // the cycle in hand; delivery thread only
  mutable Mutex mutex_;
  StockCounts last_ AD_GUARDED_BY(mutex_);
};

}  // namespace autodeliver
