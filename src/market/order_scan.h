// The orders awaiting shipment: the five patterns that cut the marketplace's
// order list page into orders, and the scan that fetches the page and pairs
// the matches into `PendingOrder` records.
//
// The patterns match bytes (the GBK page is never decoded), case-sensitive,
// with "." matching every byte including line breaks. Matches of one pattern
// are searched left to right without overlap. The i-th order is made of the
// i-th match of every pattern; when the five match lists differ in length
// the pairing cannot be trusted and the page yields no order at all, so a
// card can never go to the buyer of another order. A search that exceeds the
// regular-expression engine's complexity limit counts as finding nothing.
//
// Thread safety: the compiled patterns are built once, on first use or by
// CompileOrderPatterns, and only read afterwards; every function may be
// called from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace autodeliver {

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

// Compiles the five patterns (done once; later calls do nothing). Called at
// start-up so that a broken pattern shows at once; the scan functions
// compile on first use as well.
void CompileOrderPatterns();

// The page text as the patterns see it: the bytes up to the first zero byte,
// with every "&mdash;" (ASCII letters in any case, never starting on the
// trail byte of a double-byte character) replaced by the GBK dash A1 AA.
std::string PrepareOrderPage(std::string_view body);

// The orders of a prepared page, in page order; empty when the page lists
// none or when the five patterns do not match the same number of times.
std::vector<PendingOrder> ParseOrderPage(const std::string& pageText);

// Fetches the order list page with the login cookies and returns its orders
// (PrepareOrderPage + ParseOrderPage). Empty on any failure.
std::vector<PendingOrder> ScanPendingOrders();

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

OrderPatternCounts CountOrderPatterns(const std::string& pageText);

}  // namespace autodeliver
