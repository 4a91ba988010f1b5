// The order scan with its outcome; see scan_outcome.h.
#include "market/scan_outcome.h"

#include <string>

#include "http/http_request.h"
#include "market/hosts.h"
#include "market/login.h"

namespace autodeliver {

OrderScanReader::OrderScanReader(OrderScanBounds bounds) : page_(bounds) {}

void OrderScanReader::Feed(std::string_view bytes) {
  if (ended_) return;
  const std::size_t zero = bytes.find('\0');
  if (zero != bytes.npos) {
    bytes = bytes.substr(0, zero);
    ended_ = true;
  }
  page_.Feed(bytes);
  // Once a field has matched, the page is no sign-in page whatever follows.
  if (!markerSeen_) markerSeen_ = page_.AnyMatch();
  if (!markerSeen_) signIn_.Feed(bytes);
}

OrderScan OrderScanReader::Finish() {
  OrderScan scan;
  if (page_.PageBytes() == 0) return scan;  // kNoAnswer
  OrderPageScan read = page_.Finish();
  switch (read.outcome) {
    case OrderPageOutcome::kNoAnswer:
      return scan;
    case OrderPageOutcome::kUnpaired:
      scan.outcome = ScanOutcome::kUnpaired;
      scan.counts = read.counts;
      return scan;
    case OrderPageOutcome::kRead:
      break;
  }
  scan.outcome = ScanOutcome::kListed;
  if (!read.counts.AllZero()) {
    // Orders only come from a page whose five counts agree.
    scan.counts = read.counts;
    scan.orders = std::move(read.orders);
    scan.ordersNotRead = read.ordersNotRead;
    return scan;
  }
  // No order marker at all: an empty list, or the sign-in page of an
  // expired login.
  if (signIn_.Finish()) scan.outcome = ScanOutcome::kSignInPage;
  return scan;
}

OrderScan ReadOrderScan(std::string_view body) {
  OrderScanReader reader(CurrentOrderScanBounds());
  reader.Feed(body);
  return reader.Finish();
}

OrderScan ScanOrders() {
  // Only the first page of the list is read, as it arrives.
  OrderScanReader reader(CurrentOrderScanBounds());
  const HttpResult answer = HttpRequestStreamed(OrderListUrl(), "GET", {}, LoginCookies(),
                                                [&reader](std::string_view piece) { reader.Feed(piece); });
  if (answer.outcome != HttpOutcome::kAnswered) return OrderScan();
  return reader.Finish();
}

}  // namespace autodeliver
