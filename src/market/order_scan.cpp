// The scan of the orders awaiting shipment; see order_scan.h.
#include "market/order_scan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>

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
    case OrderPageOutcome::kUnpaired:
      return "the order list page's fields do not pair up";
  }
  return "unknown";
}

void CompileOrderPatterns() { (void)OrderMarkup(OrderField::kItemTitle); }

namespace {

std::atomic<std::size_t> g_window{kOrderScanWindow};
std::atomic<std::size_t> g_heldLimit{kOrderScanHeldLimit};

// Pairs the i-th texts of the five fields into orders. `counts` are the
// fields' matches over the whole page, of which the lists hold the first
// ones (all of them unless the held bound was reached).
OrderPageScan PairOrders(std::array<std::vector<std::string>, 5>& lists,
                         const std::array<std::size_t, 5>& counts) {
  OrderPageScan scan;
  scan.counts = {static_cast<int>(counts[0]), static_cast<int>(counts[1]), static_cast<int>(counts[2]),
                 static_cast<int>(counts[3]), static_cast<int>(counts[4])};
  // Positional pairing is only trustworthy when every order contributed one
  // match to every list; otherwise a card could reach the wrong buyer.
  if (!scan.counts.AllEqual()) {
    scan.outcome = OrderPageOutcome::kUnpaired;
    return scan;
  }
  auto& [titles, nicks, numbers, quantities, ids] = lists;
  std::size_t n = counts[0];
  for (const auto& list : lists) n = std::min(n, list.size());
  scan.ordersNotRead = static_cast<int>(counts[0] - n);
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

}  // namespace

OrderPageScan ReadOrderPage(std::string_view body) {
  std::array<std::vector<std::string>, 5> lists = OrderFieldTexts(body);
  std::array<std::size_t, 5> counts{};
  for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = lists[i].size();
  return PairOrders(lists, counts);
}

OrderPageReader::OrderPageReader(OrderScanBounds bounds)
    : stream_(std::make_unique<OrderFieldStream>(bounds.window, bounds.heldLimit)) {}

OrderPageReader::~OrderPageReader() = default;

void OrderPageReader::Feed(std::string_view bytes) { stream_->Feed(bytes); }

OrderPageScan OrderPageReader::Finish() {
  stream_->Finish();
  return PairOrders(stream_->Texts(), stream_->Counts());
}

std::size_t OrderPageReader::PageBytes() const { return stream_->PageBytes(); }

bool OrderPageReader::AnyMatch() const {
  for (std::size_t count : stream_->Counts())
    if (count > 0) return true;
  return false;
}

std::size_t OrderPageReader::PeakKeptBytes() const { return stream_->PeakKeptBytes(); }

void SetOrderScanBoundsForTesting(OrderScanBounds bounds) {
  g_window.store(bounds.window > 0 ? bounds.window : kOrderScanWindow);
  g_heldLimit.store(bounds.heldLimit > 0 ? bounds.heldLimit : kOrderScanHeldLimit);
}

OrderScanBounds CurrentOrderScanBounds() { return {g_window.load(), g_heldLimit.load()}; }

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
  // Only the first page of the list is read, as it arrives.
  OrderPageReader reader(CurrentOrderScanBounds());
  std::uint64_t bodyBytes = 0;
  const HttpResult answer =
      HttpRequestStreamed(OrderListUrl(), "GET", {}, LoginCookies(), [&](std::string_view piece) {
        bodyBytes += piece.size();
        reader.Feed(piece);
      });
  if (answer.outcome != HttpOutcome::kAnswered || bodyBytes == 0) {
    OrderPageScan scan;
    scan.outcome = OrderPageOutcome::kNoAnswer;
    return scan;
  }
  return reader.Finish();
}

std::vector<PendingOrder> ScanPendingOrders() { return ScanOrderList().orders; }

}  // namespace autodeliver
