#include "sim_pages.h"

#include <algorithm>

#include "text/gbk.h"

namespace autodeliver::sim {

namespace {

// The em dash and the multiplication sign in GBK.
constexpr std::string_view kEmDash = "\xA1\xAA";
constexpr std::string_view kTimes = "\xA1\xC1";
// The blanks that open and close the quantity line of an order block.
constexpr std::string_view kTotalIndent = "                \t\t\t\t    ";

std::string GbkPage(std::string_view title, std::string_view body) {
  return Gbk("<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
             "charset=gbk\">\n"
             "<title>") +
         std::string(title) +
         "</title>\n<style>body{font-family:sans-serif;margin:2em}"
         ".order{border:1px solid #ccc;margin:.6em 0;padding:.4em}</style>\n</head><body>\n" +
         std::string(body) + "\n</body></html>\n";
}

std::string Utf8Page(std::string_view title, std::string_view body) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + std::string(title) +
         "</title><style>body{font-family:sans-serif;margin:2em}</style></head><body>\n" + std::string(body) +
         "\n</body></html>\n";
}

std::string NavLinks() {
  return Gbk(
      "<p><a href=\"/my_taobao.htm\">我的淘宝</a> | <a href=\"/user/order_list_new.htm\">等待发货的订单</a> "
      "| "
      "<a href=\"/user/baseInfoSet.htm\">个人资料</a> | <a href=\"/buyer.htm\">买家下单</a> | "
      "<a href=\"/member/logout.jhtml\">退出</a></p>\n");
}

}  // namespace

std::string Gbk(std::string_view utf8) { return Utf8ToGbk(utf8).value(); }

std::string HtmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string PageTitleText(std::string_view gbkTitle) { return ReplaceText(gbkTitle, kEmDash, "&mdash;"); }

std::string LoginPage(std::string_view error, std::string_view redirect) {
  std::string body = Gbk("<h2>淘宝网 - 会员登录</h2>\n");
  if (!error.empty()) body += "<p style=\"color:#c00\">" + HtmlEscape(error) + "</p>\n";
  body +=
      Gbk("<form method=\"post\" action=\"/member/login.jhtml\" accept-charset=\"UTF-8\">\n"
          "<p>会员名：<input name=\"TPL_username\" autofocus></p>\n"
          "<p>密码：<input name=\"TPL_password\" type=\"password\"></p>\n"
          "<p><label><input name=\"remember_me\" type=\"checkbox\" "
          "value=\"1\">记住我（30天内自动登录）</label></p>\n");
  if (!redirect.empty()) {
    body += "<input type=\"hidden\" name=\"redirect_url\" value=\"" + HtmlEscape(redirect) + "\">\n";
  }
  body += Gbk("<p><button type=\"submit\">登录</button></p>\n</form>\n");
  return GbkPage(Gbk("会员登录"), body);
}

std::string MyTaobaoPage(std::string_view nick) {
  return GbkPage(Gbk("我的淘宝"), Gbk("<h2>我的淘宝</h2>\n<p>您好，") + HtmlEscape(nick) +
                                      Gbk("！您已登录。</p>\n") + NavLinks());
}

std::string ProfilePage(std::string_view nick) {
  return GbkPage(Gbk("个人资料"), NavLinks() + Gbk("<h2>个人资料</h2>\n<p>亲爱的<b>") + HtmlEscape(nick) +
                                      Gbk("</b>，您可以在这里修改您的个人资料。</p>\n"));
}

std::string OrderListPage(std::string_view nick, const std::vector<SimOrder>& orders, int page,
                          int pageSize) {
  int pages = std::max<int>(1, (static_cast<int>(orders.size()) + pageSize - 1) / pageSize);
  page = std::clamp(page, 1, pages);
  std::string body = NavLinks();
  body += Gbk("<h2>已卖出的宝贝 &mdash; 等待发货（共 ") + std::to_string(orders.size()) + Gbk(" 笔）</h2>\n");
  body += Gbk("<p>卖家：") + HtmlEscape(nick) + "</p>\n";
  if (orders.empty()) body += Gbk("<p>没有等待发货的订单。</p>\n");
  std::size_t first = static_cast<std::size_t>(page - 1) * pageSize;
  std::size_t last = std::min(orders.size(), first + pageSize);
  for (std::size_t i = first; i < last; ++i) {
    const SimOrder& o = orders[i];
    std::string title = PageTitleText(o.title);
    body += "<div class=\"order\">\n<div class=\"order-hd\"><span class=\"order-number\">" +
            Gbk("订单编号：") + o.orderNumber + "</span> <span class=\"deal-time\">" + Gbk("成交时间：") +
            o.placedAt + "</span></div>\n";
    body += "<div class=\"item\"><a style=\"line-height:16px;\" target=\"_blank\" title=\"" + title +
            "\" href=\"/item.htm?trade=" + o.orderNumber + "\">" + title + "</a></div>\n";
    body += "<ul class=\"amount\">\n<li class=\"total\">\r\n" + std::string(kTotalIndent) + "\t1.00 " +
            std::string(kTimes) + " " + std::to_string(o.quantity) + "\r\n" + std::string(kTotalIndent) +
            "</li>\n</ul>\n";
    body += Gbk("<div class=\"buyer\">买家：<span class=\"ww ww:token\" ww:params=\"nick=") + o.buyer +
            "&amp;display=inline\">" + o.buyer + "</span></div>\n";
    body += Gbk("<div class=\"status\">买家已付款，等待卖家发货</div>\n");
    body += "<div class=\"op\"><a href=\"/user/consign_dummy.htm?trade_id=" + o.orderNumber +
            "&amp;order_id=" + o.orderId + Gbk("&amp;from=list\">发货</a></div>\n</div>\n");
  }
  body += Gbk("<p class=\"pager\">第 ") + std::to_string(page) + " / " + std::to_string(pages) + Gbk(" 页");
  if (page > 1)
    body += " <a href=\"/user/order_list_new.htm?page=" + std::to_string(page - 1) + Gbk("\">上一页</a>");
  if (page < pages)
    body += " <a href=\"/user/order_list_new.htm?page=" + std::to_string(page + 1) + Gbk("\">下一页</a>");
  body += "</p>\n";
  return GbkPage(Gbk("已卖出的宝贝"), body);
}

std::string ConsignFormPage(std::string_view tradeId, std::string_view orderId) {
  // The hidden fields are sent in the page's charset (GBK) and percent-encoded
  // by the browser, which gives the fixed body of the shipment form.
  std::string action =
      "/user/consign_dummy.htm?trade_id=" + HtmlEscape(tradeId) + "&amp;order_id=" + HtmlEscape(orderId);
  std::string body = NavLinks();
  body += Gbk("<h2>无需物流发货</h2>\n<p>订单 ") + HtmlEscape(tradeId) + Gbk(" 将标记为已发货。</p>\n");
  body += "<form method=\"post\" action=\"" + action + "\">\n" +
          "<input type=\"hidden\" name=\"source\" value=\"\">\n"
          "<input type=\"hidden\" name=\"callUrl\" value=\"\">\n"
          "<input type=\"hidden\" name=\"action\" value=\"user/consign_action\">\n"
          "<input type=\"hidden\" name=\"event_submit_do_dummy\" value=\"anything\">\n"
          "<input type=\"hidden\" name=\"_fmw.n._0.g\" value=\"" +
          Gbk("您可以在此输入备忘信息（仅卖家自己可见）。") + "\">\n" +
          Gbk("<button type=\"submit\">确认发货</button>\n</form>\n");
  return GbkPage(Gbk("发货"), body);
}

std::string MessagePage(std::string_view heading, std::string_view text) {
  return GbkPage(heading,
                 NavLinks() + "<h2>" + HtmlEscape(heading) + "</h2>\n<p>" + HtmlEscape(text) + "</p>\n");
}

std::string DownloadPage() {
  return GbkPage(Gbk("阿里旺旺下载"), Gbk("<h2>阿里旺旺（卖家版）下载</h2>\n"
                                          "<p>这是本地模拟的下载页面，请安装项目自带的旺旺模拟程序。</p>\n"));
}

std::string NoticeAnswer(const ServiceAnswers& s) {
  if (s.rawMsg) return *s.rawMsg;
  if (s.notice.empty()) return "[check]no_msg[check][msg][msg]";
  return "[check]show[check][msg]" + s.notice + "[msg]";
}

std::string UpdateAnswer(const ServiceAnswers& s) {
  if (s.rawUpdata) return *s.rawUpdata;
  return "[msg][update]<br />ver=" + s.version + "<br />gx=" + s.changes + "<br />[msg]";
}

std::string ForumPage(const ServiceAnswers& s) {
  return Utf8Page("版本发布", "<h2>自动发货 " + HtmlEscape(s.version) + " 发布</h2>\n<p>" +
                                  HtmlEscape(s.changes) + "</p>\n");
}

std::string BuyerPage(const std::vector<Account>& accounts, std::string_view message) {
  std::string body = "<h2>买家下单（模拟）</h2>\n";
  if (!message.empty()) body += "<p><b>" + HtmlEscape(message) + "</b></p>\n";
  body +=
      "<form method=\"post\" action=\"/buyer.htm\" accept-charset=\"UTF-8\">\n"
      "<p>宝贝标题：<input name=\"title\" size=\"40\" autofocus></p>\n"
      "<p>数量：<input name=\"quantity\" value=\"1\" size=\"5\"></p>\n"
      "<p>买家昵称：<input name=\"buyer\" size=\"20\"></p>\n"
      "<p>卖家：<select name=\"seller\">";
  for (const auto& a : accounts) {
    std::string nick = HtmlEscape(GbkToUtf8Lossy(a.nick));
    body += "<option value=\"" + nick + "\">" + nick + "</option>";
  }
  body +=
      "</select></p>\n<p><button type=\"submit\">下单</button></p>\n</form>\n"
      "<p><a href=\"/user/order_list_new.htm\">卖家的等待发货列表</a> | <a href=\"/_sim/state\">状态 "
      "(JSON)</a></p>\n";
  return Utf8Page("买家下单", body);
}

}  // namespace autodeliver::sim
