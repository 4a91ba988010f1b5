// The order scan with its outcome; see scan_outcome.h.
#include "market/scan_outcome.h"

#include <string>

#include "http/http_request.h"
#include "market/hosts.h"
#include "market/login.h"

namespace autodeliver {

OrderScan ReadOrderScan(std::string_view body) {
  OrderScan scan;
  const std::string_view page = body.substr(0, body.find('\0'));
  if (page.empty()) return scan;  // kNoAnswer
  OrderPageScan read = ReadOrderPage(page);
  switch (read.outcome) {
    case OrderPageOutcome::kNoAnswer:
      return scan;
    case OrderPageOutcome::kTooLarge:
      scan.outcome = ScanOutcome::kTooLarge;
      return scan;
    case OrderPageOutcome::kUnpaired:
      scan.outcome = ScanOutcome::kUnpaired;
      scan.counts = read.counts;
      return scan;
    case OrderPageOutcome::kRead:
      break;
  }
  scan.outcome = ScanOutcome::kListed;
  if (!read.orders.empty()) {
    // Orders only come from a page whose five counts agree.
    scan.counts = read.counts;
    scan.orders = std::move(read.orders);
    return scan;
  }
  // No order marker at all: an empty list, or the sign-in page of an
  // expired login.
  if (LooksLikeSignInPage(page)) scan.outcome = ScanOutcome::kSignInPage;
  return scan;
}

OrderScan ScanOrders() {
  // Only the first page of the list is read.
  const HttpResult answer = HttpRequestDetailed(OrderListUrl(), "GET", {}, LoginCookies(), kOrderPageLimit);
  if (answer.outcome == HttpOutcome::kTooLarge) {
    OrderScan scan;
    scan.outcome = ScanOutcome::kTooLarge;
    return scan;
  }
  if (answer.outcome != HttpOutcome::kAnswered) return OrderScan();
  return ReadOrderScan(answer.body);
}

}  // namespace autodeliver
