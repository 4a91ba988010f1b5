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

#include "market/login.h"
#include "market/order_scan.h"

namespace autodeliver {

enum class ScanOutcome {
  kListed,      // the page was read; `orders` holds every order it lists (maybe none)
  kUnpaired,    // the patterns matched different numbers of times: no order taken
  kSignInPage,  // no order marker at all, and the page looks like a sign-in page
  kNoAnswer,    // the request failed, timed out or answered nothing
};

struct OrderScan {
  ScanOutcome outcome = ScanOutcome::kNoAnswer;
  std::vector<PendingOrder> orders;  // kListed only, in page order
  OrderPatternCounts counts;         // the five counts (all zero for kNoAnswer)
  // kListed: the orders the page lists after `orders`, beyond the memory
  // bound of the orders held (OrderPageScan::ordersNotRead); they are read
  // by a later cycle, once the first ones have left the list.
  int ordersNotRead = 0;
};

// Reads an order list page as it arrives: the result ReadOrderScan gives the
// whole page, keeping only a window of it (OrderPageReader) and, while no
// order marker has shown, the few bytes the sign-in check needs.
class OrderScanReader {
 public:
  explicit OrderScanReader(OrderScanBounds bounds = {});

  // The next bytes of the page as fetched.
  void Feed(std::string_view bytes);
  // The page is complete. Called once.
  OrderScan Finish();

 private:
  OrderPageReader page_;
  SignInMarkerSearch signIn_;
  bool markerSeen_ = false;  // some field matched: not a sign-in page
  bool ended_ = false;       // a zero byte ended the page
};

// Reads an order list page as fetched (the body bytes): ReadOrderPage's
// orders, and what a page without any tells.
OrderScan ReadOrderScan(std::string_view body);

// Fetches the order list page with the login cookies and reads it as it
// arrives (with the bounds in force); one request, as ScanOrderList.
OrderScan ScanOrders();

}  // namespace autodeliver
