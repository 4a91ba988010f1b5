// Login cookies and the seller's nick; see login.h.
#include "market/login.h"

#include <string_view>

#include "http/browser_cookies.h"
#include "http/http_request.h"
#include "http/text_helpers.h"
#include "market/hosts.h"
#include "text/gbk.h"

namespace autodeliver {

std::string LoginCookies() { return ReadBrowserCookies(LoginCookieUrl()); }

std::string FetchSellerNick() {
  static const std::string kLeft = "亲爱的<b>"_gbk;
  const std::string body = HttpRequest(SellerProfileUrl(), "GET", {}, LoginCookies(), kProfilePageLimit);
  const std::string_view page = std::string_view(body).substr(0, body.find('\0'));
  return TextBetween(page, kLeft, "</b>");
}

}  // namespace autodeliver
