// Builds order list pages in the marketplace's markup for the scan tests and
// the scan benchmark: one block per order, with the item-title anchor, the
// buyer-nick tag, the order-number span, the quantity block and the
// order_id link, in the page's own indentation. Texts are GBK.
#pragma once

#include <string>
#include <vector>

#include "text/gbk.h"

namespace autodeliver::testing {

struct OrderBlock {
  std::string orderNumber;
  std::string itemTitle;
  std::string quantityText;  // what follows "× " in the total line
  std::string buyerNick;
  std::string orderId;
};

inline std::string QuantityIndent() { return std::string(16, ' ') + "\t\t\t\t" + std::string(4, ' '); }

inline std::string RenderOrderBlock(const OrderBlock& o) {
  std::string s;
  s += "<tbody class=\"order\">\r\n<tr><td>\r\n";
  s += "<span class=\"order-number\">" + "订单编号："_gbk + o.orderNumber + "</span>\r\n";
  s += "<span class=\"time\">2012-11-20 09:05</span>\r\n";
  s += "</td></tr>\r\n<tr><td class=\"item\">\r\n";
  s += "<a style=\"line-height:16px;\" target=\"_blank\" title=\"" + o.itemTitle + "\" href=\"item.htm\">" +
       o.itemTitle + "</a>\r\n";
  s += "</td><td class=\"buyer\">\r\n";
  s += "<span class=\"ww ww:token\" ww:params=\"nick=" + o.buyerNick + "&amp;site=cntaobao\"></span>\r\n";
  s += "</td><td><ul>\r\n";
  s += "<li class=\"total\">\r\n" + QuantityIndent() + "\t" + "￥10.00 &mdash; "_gbk + "×"_gbk + " " +
       o.quantityText + "\r\n" + QuantityIndent() + "</li>\r\n";
  s += "</ul></td><td>\r\n";
  s += "<a href=\"/user/consign.htm?trade_id=" + o.orderNumber + "&order_id=" + o.orderId + "&from=list\">" +
       "发货"_gbk + "</a>\r\n";
  s += "</td></tr>\r\n</tbody>\r\n";
  return s;
}

inline std::string RenderOrderPage(const std::vector<OrderBlock>& orders, const std::string& tail = {}) {
  std::string s = "<html><head><title>" + "等待发货的订单"_gbk + "</title></head><body><table>\r\n";
  for (const OrderBlock& o : orders) s += RenderOrderBlock(o);
  s += tail;
  s += "</table></body></html>\r\n";
  return s;
}

// `count` orders of a monitored-looking item, numbered from 1.
inline std::vector<OrderBlock> SomeOrders(int count) {
  std::vector<OrderBlock> blocks;
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(1000 + i);
    blocks.push_back({"2012" + n, "游戏点卡 100元"_gbk, std::to_string(i % 3 + 1), "买家"_gbk + n, "9" + n});
  }
  return blocks;
}

// Markup that costs a plain whole-page search of the order patterns time
// far beyond linear: an opener of one pattern that is never closed, or many
// of them.
enum class HostileKind {
  kUnclosedQuantity,  // one "<li class=\"total\">" opener, then "× \r\n" text
  kQuantityOpeners,   // quantity openers with "× " and no closing line
  kNickOpeners,       // buyer-nick openers without "&amp;"
  kNumberOpeners,     // order-number openers without "</span>"
  kOrderIdOpeners,    // "order_id=" without "&"
  kOrderIdMatches,    // "order_id=1&" without end: many tiny matches
  kTitleOpeners,      // item-title openers, each closing the one before
};

// About `bytes` bytes of hostile markup of `kind`.
inline std::string HostileMarkup(HostileKind kind, std::size_t bytes) {
  const std::string times = "×"_gbk + " ";
  const std::string quantityOpener = "<li class=\"total\">\r\n" + QuantityIndent() + "\t";
  std::string unit;
  std::string s;
  switch (kind) {
    case HostileKind::kUnclosedQuantity:
      s = quantityOpener;
      unit = times + "\r\n";
      break;
    case HostileKind::kQuantityOpeners:
      unit = quantityOpener + times + "1\r\n";
      break;
    case HostileKind::kNickOpeners:
      unit = "<span class=\"ww ww:token\" ww:params=\"nick=x";
      break;
    case HostileKind::kNumberOpeners:
      unit = "<span class=\"order-number\">" + "订单编号："_gbk + "1";
      break;
    case HostileKind::kOrderIdOpeners:
      unit = "order_id=1";
      break;
    case HostileKind::kOrderIdMatches:
      unit = "order_id=1&";
      break;
    case HostileKind::kTitleOpeners:
      unit = "<a style=\"line-height:16px;\" target=\"_blank\" title=\"";
      break;
  }
  s.reserve(bytes + unit.size());
  while (s.size() + unit.size() <= bytes) s += unit;
  return s;
}

}  // namespace autodeliver::testing
