// The pages of the marketplace imitation and the maker's service answers.
//
// Marketplace pages are GBK bytes; the order list carries, per order, the
// exact markup that the program's order-page patterns read, and nothing else
// that they would match. The service answers are UTF-8.
//
// Thread safety: free functions without shared state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim_state.h"

namespace autodeliver::sim {

// The sign-in form. `error` (GBK) is shown above it when not empty;
// `redirect` is a local path to go to after signing in.
std::string LoginPage(std::string_view error, std::string_view redirect);
// The signed-in start page.
std::string MyTaobaoPage(std::string_view nick);
// The profile page with the nick between "亲爱的<b>" and "</b>".
std::string ProfilePage(std::string_view nick);
// Page `page` (1-based) of the orders, `pageSize` per page; `orders` newest first.
std::string OrderListPage(std::string_view nick, const std::vector<SimOrder>& orders, int page, int pageSize);
// The shipment confirmation form that posts the fixed body.
std::string ConsignFormPage(std::string_view tradeId, std::string_view orderId);
// A short page with a heading and a line of text (both GBK).
std::string MessagePage(std::string_view heading, std::string_view text);
// The IM client's download page.
std::string DownloadPage();

// The notice and update answers (UTF-8) and the forum page.
std::string NoticeAnswer(const ServiceAnswers& service);
std::string UpdateAnswer(const ServiceAnswers& service);
std::string ForumPage(const ServiceAnswers& service);

// The buyer's order form and its result page (UTF-8). `message` is shown
// above the form when not empty.
std::string BuyerPage(const std::vector<Account>& accounts, std::string_view message);

// GBK text of a UTF-8 literal (the literal must be GBK-representable).
std::string Gbk(std::string_view utf8);
// Escapes & < > " for HTML; double-byte characters pass through.
std::string HtmlEscape(std::string_view text);
// A title as the order page writes it: an em dash becomes "&mdash;".
std::string PageTitleText(std::string_view gbkTitle);

}  // namespace autodeliver::sim
