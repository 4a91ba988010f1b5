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
// Any page that arrives is read, in time linear in its length: there is no
// page too long or too complex to scan. The page is read as it arrives
// (OrderPageReader), never held whole: the scan keeps a bounded window of
// it and the orders found. What remains bounded is the memory the orders
// take (kOrderScanHeldLimit, some 200,000 orders of a real page): the
// orders past it are counted but not read, the page's first ones are, and
// the scan tells how many it left for a later cycle.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace autodeliver {

class OrderFieldStream;

// The most page bytes the scan takes in at one time; besides them it keeps
// only the tail where a match may still be open (some 16 KiB at most).
inline constexpr std::size_t kOrderScanWindow = std::size_t{1} << 20;
// The most the texts of the orders found on one page may count, each text
// its bytes and the string that holds it (the orders built from them take
// somewhat more). Only the first page of the list is ever fetched, and a
// real one lists a few dozen orders; 64 MiB holds some 200,000 of them.
inline constexpr std::size_t kOrderScanHeldLimit = std::size_t{64} << 20;

struct OrderScanBounds {
  std::size_t window = kOrderScanWindow;
  std::size_t heldLimit = kOrderScanHeldLimit;
};

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
  // kRead: the orders the page lists after `orders`, past the memory bound
  // of the orders held (OrderScanBounds::heldLimit); zero on any real page.
  int ordersNotRead = 0;
};

// Reads the order list page as it arrives, with the result ReadOrderPage
// gives the whole page (when the orders fit the held bound), keeping only a
// window of the page (OrderFieldStream). The pairing rule holds over the
// whole page: no order is trusted before the page is complete.
class OrderPageReader {
 public:
  explicit OrderPageReader(OrderScanBounds bounds = {});
  ~OrderPageReader();
  OrderPageReader(const OrderPageReader&) = delete;
  OrderPageReader& operator=(const OrderPageReader&) = delete;

  // The next bytes of the page as fetched.
  void Feed(std::string_view bytes);
  // The page is complete: its orders, or why it yields none. Called once.
  OrderPageScan Finish();

  // The page bytes read (up to the first zero byte).
  std::size_t PageBytes() const;
  // Whether some field has matched so far.
  bool AnyMatch() const;
  // The most page bytes kept at one time.
  std::size_t PeakKeptBytes() const;

 private:
  std::unique_ptr<OrderFieldStream> stream_;
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

// Fetches the order list page with the login cookies and reads its orders
// as they arrive (OrderPageReader, with the bounds in force).
OrderPageScan ScanOrderList();

// The bounds of every later scan of the fetched page; a zero field
// restores its default. For tests only (a page longer than the window need
// not be megabytes long); the program never calls it.
void SetOrderScanBoundsForTesting(OrderScanBounds bounds);
// The bounds in force.
OrderScanBounds CurrentOrderScanBounds();

// ScanOrderList().orders: empty on any failure.
std::vector<PendingOrder> ScanPendingOrders();

}  // namespace autodeliver
