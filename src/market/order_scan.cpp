// The scan of the orders awaiting shipment; see order_scan.h.
#include "market/order_scan.h"

#include "http/http_request.h"
#include "market/hosts.h"
#include "market/login.h"

namespace autodeliver {

const char* Describe(OrderPageOutcome outcome) {
  switch (outcome) {
    case OrderPageOutcome::kRead:
      return "read";
    case OrderPageOutcome::kNoAnswer:
      return "the order list could not be fetched";
    case OrderPageOutcome::kTooLarge:
      return "the order list page is too large";
    case OrderPageOutcome::kTooComplex:
      return "the order list page is too complex to search";
    case OrderPageOutcome::kUnpaired:
      return "the order list page's fields do not pair up";
  }
  return "unknown";
}

OrderPageScan ScanOrderList() {
  // Only the first page of the list is read.
  const HttpResult answer = HttpRequestDetailed(OrderListUrl(), "GET", {}, LoginCookies(), kOrderPageLimit);
  OrderPageScan scan;
  if (answer.outcome == HttpOutcome::kTooLarge) {
    scan.outcome = OrderPageOutcome::kTooLarge;
    return scan;
  }
  if (answer.outcome != HttpOutcome::kAnswered || answer.body.empty()) {
    scan.outcome = OrderPageOutcome::kNoAnswer;
    return scan;
  }
  return ReadOrderPage(PrepareOrderPage(answer.body));
}

std::vector<PendingOrder> ScanPendingOrders() { return ScanOrderList().orders; }

}  // namespace autodeliver
