// The orders awaiting shipment: the five patterns that cut the marketplace's
// order list page into orders, and the scan that fetches the page and pairs
// the matches into `PendingOrder` records.
//
// The patterns match bytes (the GBK page is never decoded), case-sensitive,
// with "." matching every byte including line breaks. Matches of one pattern
// are searched left to right without overlap. The i-th order is made of the
// i-th match of every pattern; when the five match lists differ in length
// the pairing cannot be trusted and the page yields no order at all, so a
// card can never go to the buyer of another order.
//
// Hostile pages: a page longer than kOrderPageLimit is refused unread, and
// the patterns are searched in bounded windows (market/order_patterns.h), so
// the scan of any accepted page ends in time linear in its length; a page
// that would cost the search more than its budget is refused as too
// complex. A refused page yields no order, and the scan says why.
//
// Thread safety: the compiled patterns are built once, on first use or by
// CompileOrderPatterns, and only read afterwards; every function may be
// called from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace autodeliver {

// The longest order list page the program reads. Only the first page of the
// list is ever fetched, and a real one is far smaller.
inline constexpr std::size_t kOrderPageLimit = std::size_t{4} << 20;

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
  kRead,        // the page was read; its orders (maybe none) are the result
  kNoAnswer,    // the request failed or the page was empty
  kTooLarge,    // the page is longer than kOrderPageLimit: refused unread
  kTooComplex,  // the search would have cost more than its budget: refused
  kUnpaired,    // the five patterns matched unequally often: no order trusted
};

// A short English description of an outcome, for printouts.
const char* Describe(OrderPageOutcome outcome);

// How many times each of the five patterns matches a prepared page: what a
// page that cannot be paired is made of.
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

// Compiles the five patterns (done once; later calls do nothing). Called at
// start-up so that a broken pattern shows at once; the scan functions
// compile on first use as well.
void CompileOrderPatterns();

// The page text as the patterns see it: the bytes up to the first zero byte,
// with every "&mdash;" (ASCII letters in any case, never starting on the
// trail byte of a double-byte character) replaced by the GBK dash A1 AA.
std::string PrepareOrderPage(std::string_view body);

// The orders of a prepared page, in page order, or why the page yields none
// (kRead with no order for a page that lists none).
OrderPageScan ReadOrderPage(const std::string& pageText);

// ReadOrderPage(pageText).orders.
std::vector<PendingOrder> ParseOrderPage(const std::string& pageText);

// Fetches the order list page with the login cookies (at most
// kOrderPageLimit bytes) and reads its orders (PrepareOrderPage +
// ReadOrderPage).
OrderPageScan ScanOrderList();

// ScanOrderList().orders: empty on any failure.
std::vector<PendingOrder> ScanPendingOrders();

// The five counts of a prepared page (ReadOrderPage(pageText).counts; all
// zero for a page refused as too large or too complex).
OrderPatternCounts CountOrderPatterns(const std::string& pageText);

}  // namespace autodeliver
