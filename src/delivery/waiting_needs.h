// The cards that the orders of the last delivery cycle wait for, per item:
// an observer of the cycle (delivery_events.h) that adds up, from the start
// of a cycle to its end, the bought quantities of the orders that waited
// because the stock of their item held too few cards, per item title. At
// the end of each cycle that ran to its end it hands the sums over; the
// items page shows them as "待发" beside the stock.
//
// Every event is passed on to `next` (when given) after the collector has
// seen it, so that another observer (a demo's, a test's) sees the cycle
// too.
//
// Thread safety: the events come on the delivery thread, and the hand-over
// runs there (the window passes the sums on to its own thread with a
// queued call). SetHandover must be called before the first cycle starts.
// Last() may be called from any thread.
#pragma once

#include <functional>
#include <mutex>

#include "delivery/delivery_events.h"
#include "store/stock_counts.h"

namespace autodeliver {

class WaitingNeeds : public DeliveryEvents {
 public:
  // Called on the delivery thread with the sums of a cycle that ended.
  using Handover = std::function<void(const StockCounts& needs)>;

  explicit WaitingNeeds(DeliveryEvents* next = nullptr) : next_(next) {}

  void SetHandover(Handover handover) { handover_ = std::move(handover); }
  void SetNext(DeliveryEvents* next) { next_ = next; }

  // The sums of the last cycle that ran to its end; empty before the first.
  StockCounts Last() const;

  void CycleStarted() override;
  void OrderSeen(const PendingOrder& order) override;
  void OrderSkipped(const PendingOrder& order, SkipReason reason) override;
  void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) override;
  void CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) override;
  void MessageHanded(const PendingOrder& order, bool handed) override;
  void OrderConsigned(const PendingOrder& order, bool answered) override;
  void CycleEnded(const CycleResult& result) override;

 private:
  DeliveryEvents* next_;
  Handover handover_;
  StockCounts cycle_;  // the cycle in hand; delivery thread only
  mutable std::mutex mutex_;
  StockCounts last_;  // guarded by mutex_
};

}  // namespace autodeliver
