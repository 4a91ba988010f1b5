// The scan of the orders awaiting shipment; see order_scan.h.
#include "market/order_scan.h"

#include "http/http_request.h"
#include "market/hosts.h"
#include "market/login.h"

namespace autodeliver {

std::vector<PendingOrder> ScanPendingOrders() {
  // Only the first page of the list is read.
  const std::string body = HttpRequest(OrderListUrl(), "GET", {}, LoginCookies());
  return ParseOrderPage(PrepareOrderPage(body));
}

}  // namespace autodeliver
