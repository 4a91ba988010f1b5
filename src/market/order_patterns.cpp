// The five order-page patterns and the positional pairing of their matches;
// see order_scan.h.
#include <boost/regex.hpp>
#include <string>
#include <vector>

#include "market/order_scan.h"
#include "market/regex_matches.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {
namespace {

// Byte-exact pattern texts. The quantity block carries the page's own
// indentation: CR LF, 16 spaces, four TABs, 4 spaces.
struct OrderPatterns {
  boost::regex itemTitle;
  boost::regex buyerNick;
  boost::regex orderNumber;
  boost::regex quantity;
  boost::regex orderId;
};

boost::regex CompileOne(const std::string& text) {
  // Perl syntax, case-sensitive; "." matches line breaks unless a match flag
  // says otherwise, and none is passed.
  return boost::regex(text, boost::regex::perl);
}

const OrderPatterns& Patterns() {
  static const OrderPatterns patterns = [] {
    const std::string indent = std::string(16, ' ') + "\t\t\t\t" + std::string(4, ' ');
    OrderPatterns p;
    p.itemTitle = CompileOne("<a style=\"line-height:16px;\" target=\"_blank\" title=\"(.*?)\"");
    p.buyerNick = CompileOne("<span class=\"ww ww:token\" ww:params=\"nick=(.*?)&amp;");
    p.orderNumber = CompileOne("<span class=\"order-number\">" + "订单编号："_gbk + "(.*?)</span>");
    p.quantity =
        CompileOne("<li class=\"total\">\r\n" + indent + "\t.*?" + "×"_gbk + " (.*?)\r\n" + indent + "</li>");
    p.orderId = CompileOne("order_id=(.*?)&");
    return p;
  }();
  return patterns;
}

}  // namespace

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

std::vector<PendingOrder> ParseOrderPage(const std::string& pageText) {
  const OrderPatterns& p = Patterns();
  const std::vector<std::string> titles = AllGroupOneMatches(p.itemTitle, pageText);
  const std::vector<std::string> nicks = AllGroupOneMatches(p.buyerNick, pageText);
  const std::vector<std::string> numbers = AllGroupOneMatches(p.orderNumber, pageText);
  const std::vector<std::string> quantities = AllGroupOneMatches(p.quantity, pageText);
  const std::vector<std::string> ids = AllGroupOneMatches(p.orderId, pageText);

  // Positional pairing is only trustworthy when every order contributed one
  // match to every list; otherwise a card could reach the wrong buyer.
  const std::size_t n = titles.size();
  if (nicks.size() != n || numbers.size() != n || quantities.size() != n || ids.size() != n) return {};

  std::vector<PendingOrder> orders;
  orders.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    PendingOrder order;
    order.itemTitle = titles[i];
    order.buyerNick = nicks[i];
    order.orderNumber = numbers[i];
    order.quantity = TextToInt(quantities[i]);
    order.orderId = ids[i];
    orders.push_back(std::move(order));
  }
  return orders;
}

bool OrderPatternCounts::AllZero() const {
  return itemTitles == 0 && buyerNicks == 0 && orderNumbers == 0 && quantities == 0 && orderIds == 0;
}

bool OrderPatternCounts::AllEqual() const {
  return buyerNicks == itemTitles && orderNumbers == itemTitles && quantities == itemTitles &&
         orderIds == itemTitles;
}

OrderPatternCounts CountOrderPatterns(const std::string& pageText) {
  const OrderPatterns& p = Patterns();
  auto count = [&pageText](const boost::regex& pattern) {
    return static_cast<int>(AllGroupOneMatches(pattern, pageText).size());
  };
  OrderPatternCounts counts;
  counts.itemTitles = count(p.itemTitle);
  counts.buyerNicks = count(p.buyerNick);
  counts.orderNumbers = count(p.orderNumber);
  counts.quantities = count(p.quantity);
  counts.orderIds = count(p.orderId);
  return counts;
}

}  // namespace autodeliver
