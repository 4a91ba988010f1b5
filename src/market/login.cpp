// Login cookies and the seller's nick; see login.h.
#include "market/login.h"

#include <string_view>

#include "http/answer_text.h"
#include "http/browser_cookies.h"
#include "http/http_request.h"
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

bool LooksLikeSignInPage(std::string_view page) {
  for (std::string_view marker : {"type=\"password\"", "type='password'", "type=password", "TPL_password"}) {
    if (FindText(page, marker, 1, /*ignoreAsciiCase=*/true) > 0) return true;
  }
  return false;
}

SellerNickRead ReadSellerNickPage(std::string_view body) {
  static const std::string kLeft = "亲爱的<b>"_gbk;
  SellerNickRead read;
  const std::string_view page = body.substr(0, body.find('\0'));
  if (page.empty()) return read;  // kNoAnswer
  read.nick = TextBetween(page, kLeft, "</b>");
  if (!read.nick.empty()) {
    read.outcome = NickOutcome::kRead;
  } else {
    read.outcome = LooksLikeSignInPage(page) ? NickOutcome::kSignInPage : NickOutcome::kNotOnPage;
  }
  return read;
}

SellerNickRead ReadSellerNick() {
  return ReadSellerNickPage(HttpRequest(SellerProfileUrl(), "GET", {}, LoginCookies(), kProfilePageLimit));
}

}  // namespace autodeliver
