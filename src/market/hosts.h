// Where the program's peers live: the marketplace's four hosts, the scheme
// of its login pages and the maker's service host, each read from the
// environment so that a test rig or a demo can point the program at local
// imitations. An unset or empty variable gives the real host.
//
//   AUTODELIVER_LOGIN_HOST      login.taobao.com
//   AUTODELIVER_MEMBER_HOST     i.taobao.com
//   AUTODELIVER_LOGISTICS_HOST  wuliu.taobao.com
//   AUTODELIVER_WEB_HOST        www.taobao.com
//   AUTODELIVER_LOGIN_SCHEME    https   (http for an imitation without TLS)
//   AUTODELIVER_SERVICE_HOST    service.autodeliver.example
//
// Hosts are "host" or "host:port". The URL builders below put the program's
// fixed paths behind them; the member, logistics and service pages are
// always plain http, as the marketplace serves them.
//
// Thread safety: every function reads the environment anew and keeps no
// state; safe from any thread as long as nobody changes the environment at
// the same time.
#pragma once

#include <string>

namespace autodeliver {

std::string LoginHost();
std::string MemberHost();
std::string LogisticsHost();
std::string WebHost();
// "https" or "http" (any other value of the variable counts as https).
std::string LoginScheme();
std::string ServiceHost();

// scheme://login host/ : the page the login browser opens.
std::string LoginPageUrl();
// scheme://login host/member/login.jhtml : the URL whose cookies are the
// login cookies.
std::string LoginCookieUrl();
// http://member host/user/baseInfoSet.htm : the seller's profile page.
std::string SellerProfileUrl();
// http://logistics host/user/order_list_new.htm : the orders awaiting
// shipment.
std::string OrderListUrl();
// http://logistics host/user/consign_dummy.htm?trade_id=N&order_id=I, the
// two values inserted as they are.
std::string ConsignUrl(const std::string& orderNumber, const std::string& orderId);
// http://web host/go/chn/aliwangwang/index.php?spm=0.0.0.51.LfwhjZ : the IM
// client's download page.
std::string ImDownloadUrl();

}  // namespace autodeliver
