// The five order-page patterns, their bounded search and the positional
// pairing of their matches; see order_patterns.h and order_scan.h.
#include "market/order_patterns.h"

#include <boost/regex.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "market/order_scan.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {
namespace {

// The indentation of the quantity block's two lines: 16 spaces, four TABs,
// 4 spaces.
std::string QuantityIndent() { return std::string(16, ' ') + "\t\t\t\t" + std::string(4, ' '); }

struct FieldPattern {
  std::string text;  // as written
  OpenerPattern bounded;
};

FieldPattern Make(std::string opener, const std::string& rest, const std::string& boundedRest,
                  std::size_t longestMatch) {
  FieldPattern p;
  p.text = opener + rest;
  // Perl syntax, case-sensitive; "." matches line breaks unless a match flag
  // says otherwise, and none is passed.
  p.bounded.regex = boost::regex(opener + boundedRest, boost::regex::perl);
  p.bounded.opener = std::move(opener);
  p.bounded.longestMatch = longestMatch;
  return p;
}

const std::array<FieldPattern, 5>& Patterns() {
  // Windows: a title attribute, a nick, an order number or id of a real
  // order list is well under a hundred bytes, a quantity block a few
  // hundred; the windows leave ample room beyond that.
  static const std::array<FieldPattern, 5> patterns = [] {
    const std::string times = "×"_gbk;
    const std::string close = "\r\n" + QuantityIndent() + "</li>";
    std::array<FieldPattern, 5> p;
    p[0] = Make("<a style=\"line-height:16px;\" target=\"_blank\" title=\"", "(.*?)\"", "(.*?)\"", 4096);
    p[1] = Make("<span class=\"ww ww:token\" ww:params=\"nick=", "(.*?)&amp;", "(.*?)&amp;", 1024);
    p[2] = Make("<span class=\"order-number\">" + "订单编号："_gbk, "(.*?)</span>", "(.*?)</span>", 1024);
    p[3] = Make("<li class=\"total\">\r\n" + QuantityIndent() + "\t", ".*?" + times + " (.*?)" + close,
                "(?>.*?" + times + " )(.*?)" + close, 4096);
    p[4] = Make("order_id=", "(.*?)&", "(.*?)&", 1024);
    return p;
  }();
  return patterns;
}

const FieldPattern& Pattern(OrderField field) { return Patterns()[static_cast<std::size_t>(field)]; }

}  // namespace

const std::string& OrderPatternText(OrderField field) { return Pattern(field).text; }

const OpenerPattern& BoundedOrderPattern(OrderField field) { return Pattern(field).bounded; }

void CompileOrderPatterns() { (void)Patterns(); }

std::string PrepareOrderPage(std::string_view body) {
  static const std::string kDash = "\xA1\xAA";  // the GBK dash "—"
  static constexpr std::string_view kEntity = "&mdash;";
  const std::string_view page = body.substr(0, body.find('\0'));
  std::string out;
  out.reserve(page.size());
  long from = 1;
  for (;;) {
    const long at = FindText(page, kEntity, from, /*ignoreAsciiCase=*/true);
    if (at < 0) break;
    out.append(page.substr(from - 1, at - from));
    out.append(kDash);
    from = at + static_cast<long>(kEntity.size());
  }
  out.append(page.substr(from - 1));
  return out;
}

OrderPageScan ReadOrderPage(const std::string& pageText) {
  OrderPageScan scan;
  if (pageText.size() > kOrderPageLimit) {
    scan.outcome = OrderPageOutcome::kTooLarge;
    return scan;
  }
  std::size_t budget = kOrderPageFailedWindowBudget;
  std::array<std::vector<std::string>, 5> lists;
  for (OrderField field : kOrderFields) {
    WindowedMatches found = WindowedGroupOneMatches(BoundedOrderPattern(field), pageText, budget);
    if (!found.complete) {
      scan.outcome = OrderPageOutcome::kTooComplex;
      return scan;
    }
    lists[static_cast<std::size_t>(field)] = std::move(found.groups);
  }
  const auto& [titles, nicks, numbers, quantities, ids] = lists;
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
    order.itemTitle = titles[i];
    order.buyerNick = nicks[i];
    order.orderNumber = numbers[i];
    order.quantity = TextToInt(quantities[i]);
    order.orderId = ids[i];
    scan.orders.push_back(std::move(order));
  }
  return scan;
}

std::vector<PendingOrder> ParseOrderPage(const std::string& pageText) {
  return ReadOrderPage(pageText).orders;
}

bool OrderPatternCounts::AllZero() const {
  return itemTitles == 0 && buyerNicks == 0 && orderNumbers == 0 && quantities == 0 && orderIds == 0;
}

bool OrderPatternCounts::AllEqual() const {
  return buyerNicks == itemTitles && orderNumbers == itemTitles && quantities == itemTitles &&
         orderIds == itemTitles;
}

OrderPatternCounts CountOrderPatterns(const std::string& pageText) { return ReadOrderPage(pageText).counts; }

}  // namespace autodeliver
