// The orders awaiting shipment: the scan that fetches the marketplace's order
// list page and pairs the matches of its five fields (market/order_patterns.h)
// into `PendingOrder` records.
//
// The fields match bytes (the GBK page is never decoded), case-sensitive.
// Matches of one field are found left to right without overlap. The i-th
// order is made of the i-th match of every field; when the five match lists
// differ in length the pairing cannot be trusted and the page yields no
// order at all, so a card can never go to the buyer of another order.
//
// Any page that arrives is read whole, in time linear in its length: there
// is no page too long or too complex to scan. The fetch alone has a bound,
// kOrderPageLimit, which guards the program's memory; it lies far beyond
// any order list the marketplace sends (the imitation's page of 10,000
// orders is under 8 MiB).
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace autodeliver {

// The longest order list page the program fetches. The page is held in
// memory once (the scan makes no copy of it), so this is the memory one
// scan may take; a page of 64 MiB lists some 80,000 orders. Only the first
// page of the list is ever fetched, and a real one lists a few dozen.
inline constexpr std::size_t kOrderPageLimit = std::size_t{64} << 20;

// One order found on the order list page. Texts are GBK bytes exactly as on
// the page (no entity decoding, no trimming).
struct PendingOrder {
  std::string orderNumber;  // also the trade_id of the consign request
  std::string itemTitle;
  int quantity = 0;
  std::string buyerNick;
  std::string orderId;  // the order_id of the consign request

  bool operator==(const PendingOrder&) const = default;
};

// What became of a scan of the order list page.
enum class OrderPageOutcome {
  kRead,      // the page was read; its orders (maybe none) are the result
  kNoAnswer,  // the request failed or the page was empty
  kTooLarge,  // the page is longer than kOrderPageLimit: not fetched
  kUnpaired,  // the five fields matched unequally often: no order trusted
};

// A short English description of an outcome, for printouts.
const char* Describe(OrderPageOutcome outcome);

// How many times each of the five fields matches a page: what a page that
// cannot be paired is made of.
struct OrderPatternCounts {
  int itemTitles = 0;
  int buyerNicks = 0;
  int orderNumbers = 0;
  int quantities = 0;
  int orderIds = 0;

  bool AllZero() const;
  // Every pattern matched the same number of times (the pairing holds).
  bool AllEqual() const;
  bool operator==(const OrderPatternCounts&) const = default;
};

struct OrderPageScan {
  OrderPageOutcome outcome = OrderPageOutcome::kRead;
  std::vector<PendingOrder> orders;  // empty unless kRead
  OrderPatternCounts counts;         // kRead and kUnpaired: how often each pattern matched
};

// Builds the fields' markup (done once; later calls do nothing). Called at
// start-up; the scan functions build it on first use as well.
void CompileOrderPatterns();

// The orders of a page as fetched (up to its first zero byte, "&mdash;"
// replaced in the fields), in page order, or why the page yields none
// (kRead with no order for a page that lists none).
OrderPageScan ReadOrderPage(std::string_view body);

// ReadOrderPage(body).orders.
std::vector<PendingOrder> ParseOrderPage(std::string_view body);

// The five counts of a page (ReadOrderPage(body).counts).
OrderPatternCounts CountOrderPatterns(std::string_view body);

// Fetches the order list page with the login cookies (at most
// kOrderPageLimit bytes) and reads its orders.
OrderPageScan ScanOrderList();

// ScanOrderList().orders: empty on any failure.
std::vector<PendingOrder> ScanPendingOrders();

}  // namespace autodeliver
