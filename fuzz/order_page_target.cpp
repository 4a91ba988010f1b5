// Fuzz target: the order list page. The bytes are the page as the
// marketplace sends it, and it is scanned. On pages of up to 8 KiB the scan
// it replaced (tests/market/reference_order_scan.h) runs as well, and both
// must have found the same matches of every field. The page read as it
// arrives, cut into pieces and windows whose sizes the first bytes choose,
// must yield what the whole page yields.
#include "fuzz_targets.h"
#include "market/order_patterns.h"
#include "market/order_scan.h"
#include "market/reference_order_scan.h"

namespace autodeliver::fuzz {
namespace {

constexpr std::size_t kCompareUpTo = 8 << 10;

}  // namespace

int FuzzOrderPage(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const OrderPageScan scan = ReadOrderPage(body);
  Require(scan.outcome == OrderPageOutcome::kRead || scan.orders.empty(), "an unpaired page yields no order");
  for (const PendingOrder& order : scan.orders) {
    Require(order.itemTitle.find('"') == std::string::npos, "a title ends at the first double quote");
  }

  const std::size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
  const std::size_t window = size > 1 ? 1 + data[1] * 67 % 9000 : 1;
  OrderPageReader reader({.window = window, .heldLimit = kOrderScanHeldLimit});
  for (std::size_t at = 0; at < body.size(); at += piece) reader.Feed(body.substr(at, piece));
  const OrderPageScan streamed = reader.Finish();
  Require(
      streamed.outcome == scan.outcome && streamed.counts == scan.counts && streamed.orders == scan.orders,
      "the page read as it arrives yields what the whole page yields");

  if (size > kCompareUpTo) return 0;
  const reference::PageMatches before = reference::ReadPageMatches(body);
  if (!before.complete) return 0;
  Require(OrderFieldTexts(body) == before.groups, "the scan finds what the scan it replaced found");
  return 0;
}

}  // namespace autodeliver::fuzz
