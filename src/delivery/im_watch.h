// What the delivery remembers about the IM client from one cycle to the
// next: whether a message failed and the client has not answered since
// (the client is "away"), and how often each undelivered order was retried.
//
// While the client is away no cycle takes a card: the orders wait with the
// reason kImNotAnswering until a look at the client (MessageSender::
// ProbeClient) finds it again, or, when the sender cannot tell, until the
// retry of an undelivered order (which takes no new card) gets through.
// Orders marked as not delivered (store/undelivered_orders.h) and still
// listed are then sent again with their recorded cards, each at most once
// per cycle and at most kMaxRetries times in this run; after that the order
// stays marked for the seller.
//
// Thread safety: used by the delivery thread only (cycles never overlap).
#pragma once

#include <map>
#include <string>

namespace autodeliver {

class ImWatch {
 public:
  static constexpr int kMaxRetries = 5;

  bool away() const { return away_; }
  void MarkAway() { away_ = true; }
  void MarkBack() { away_ = false; }

  // Automatic retries of the order's message so far.
  int Attempts(const std::string& orderNumber) const;
  bool RetriesUsedUp(const std::string& orderNumber) const { return Attempts(orderNumber) >= kMaxRetries; }
  void CountAttempt(const std::string& orderNumber) { ++attempts_[orderNumber]; }
  void Forget(const std::string& orderNumber) { attempts_.erase(orderNumber); }

 private:
  bool away_ = false;
  std::map<std::string, int> attempts_;
};

}  // namespace autodeliver
