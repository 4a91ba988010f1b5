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

inline std::string RenderOrderPage(const std::vector<OrderBlock>& orders) {
  std::string s = "<html><head><title>" + "等待发货的订单"_gbk + "</title></head><body><table>\r\n";
  for (const OrderBlock& o : orders) s += RenderOrderBlock(o);
  s += "</table></body></html>\r\n";
  return s;
}

}  // namespace autodeliver::testing
