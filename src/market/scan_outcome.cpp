// The order scan with its outcome; see scan_outcome.h.
#include "market/scan_outcome.h"

#include <string>

#include "http/http_request.h"
#include "market/hosts.h"
#include "market/login.h"

namespace autodeliver {

OrderScan ReadOrderScan(std::string_view body) {
  OrderScan scan;
  const std::string page = PrepareOrderPage(body);
  if (page.empty()) return scan;  // kNoAnswer
  scan.orders = ParseOrderPage(page);
  if (!scan.orders.empty()) {
    // Orders only come from a page whose five counts agree.
    const int n = static_cast<int>(scan.orders.size());
    scan.counts = {n, n, n, n, n};
    scan.outcome = ScanOutcome::kListed;
    return scan;
  }
  // No order: an empty list, a page that cannot be paired, or a sign-in
  // page. Only this rarer case searches the page a second time.
  scan.counts = CountOrderPatterns(page);
  if (!scan.counts.AllZero()) {
    scan.outcome = ScanOutcome::kUnpaired;
  } else {
    scan.outcome = LooksLikeSignInPage(page) ? ScanOutcome::kSignInPage : ScanOutcome::kListed;
  }
  return scan;
}

OrderScan ScanOrders() { return ReadOrderScan(HttpRequest(OrderListUrl(), "GET", {}, LoginCookies())); }

}  // namespace autodeliver
