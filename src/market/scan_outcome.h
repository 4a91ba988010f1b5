// The order scan as the delivery log and the login watch see it: besides the
// orders, what the order list page turned out to be. A page whose five
// pattern counts differ cannot be paired and yields no order; a page with no
// order markers at all is either an empty list or, when it looks like the
// marketplace's sign-in page, the sign that the login has expired; an empty
// answer means the page could not be fetched.
//
// Thread safety: as order_scan.h; no state of its own.
#pragma once

#include <string_view>
#include <vector>

#include "market/order_scan.h"

namespace autodeliver {

enum class ScanOutcome {
  kListed,      // the page was read; `orders` holds every order it lists (maybe none)
  kUnpaired,    // the patterns matched different numbers of times: no order taken
  kSignInPage,  // no order marker at all, and the page looks like a sign-in page
  kNoAnswer,    // the request failed, timed out or answered nothing
  kTooLarge,    // the page is longer than kOrderPageLimit: not fetched
};

struct OrderScan {
  ScanOutcome outcome = ScanOutcome::kNoAnswer;
  std::vector<PendingOrder> orders;  // kListed only, in page order
  OrderPatternCounts counts;         // the five counts (all zero for kNoAnswer)
};

// Reads an order list page as fetched (the body bytes) with ReadOrderPage.
OrderScan ReadOrderScan(std::string_view body);

// Fetches the order list page with the login cookies (at most
// kOrderPageLimit bytes) and reads it; one request, as ScanOrderList.
OrderScan ScanOrders();

}  // namespace autodeliver
