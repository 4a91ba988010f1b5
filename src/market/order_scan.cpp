// The scan of the orders awaiting shipment; see order_scan.h.
#include "market/order_scan.h"

#include <array>

#include "http/http_request.h"
#include "market/hosts.h"
#include "market/login.h"
#include "market/order_patterns.h"
#include "text/text_to_int.h"

namespace autodeliver {

const char* Describe(OrderPageOutcome outcome) {
  switch (outcome) {
    case OrderPageOutcome::kRead:
      return "read";
    case OrderPageOutcome::kNoAnswer:
      return "the order list could not be fetched";
    case OrderPageOutcome::kTooLarge:
      return "the order list page is too large";
    case OrderPageOutcome::kUnpaired:
      return "the order list page's fields do not pair up";
  }
  return "unknown";
}

void CompileOrderPatterns() { (void)OrderMarkup(OrderField::kItemTitle); }

OrderPageScan ReadOrderPage(std::string_view body) {
  OrderPageScan scan;
  std::array<std::vector<std::string>, 5> lists = OrderFieldTexts(body);
  auto& [titles, nicks, numbers, quantities, ids] = lists;
  scan.counts = {static_cast<int>(titles.size()), static_cast<int>(nicks.size()),
                 static_cast<int>(numbers.size()), static_cast<int>(quantities.size()),
                 static_cast<int>(ids.size())};

  // Positional pairing is only trustworthy when every order contributed one
  // match to every list; otherwise a card could reach the wrong buyer.
  const std::size_t n = titles.size();
  if (nicks.size() != n || numbers.size() != n || quantities.size() != n || ids.size() != n) {
    scan.outcome = OrderPageOutcome::kUnpaired;
    return scan;
  }
  scan.orders.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    PendingOrder order;
    order.itemTitle = std::move(titles[i]);
    order.buyerNick = std::move(nicks[i]);
    order.orderNumber = std::move(numbers[i]);
    order.quantity = TextToInt(quantities[i]);
    order.orderId = std::move(ids[i]);
    scan.orders.push_back(std::move(order));
  }
  return scan;
}

std::vector<PendingOrder> ParseOrderPage(std::string_view body) { return ReadOrderPage(body).orders; }

OrderPatternCounts CountOrderPatterns(std::string_view body) { return ReadOrderPage(body).counts; }

bool OrderPatternCounts::AllZero() const {
  return itemTitles == 0 && buyerNicks == 0 && orderNumbers == 0 && quantities == 0 && orderIds == 0;
}

bool OrderPatternCounts::AllEqual() const {
  return buyerNicks == itemTitles && orderNumbers == itemTitles && quantities == itemTitles &&
         orderIds == itemTitles;
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
  return ReadOrderPage(answer.body);
}

std::vector<PendingOrder> ScanPendingOrders() { return ScanOrderList().orders; }

}  // namespace autodeliver
