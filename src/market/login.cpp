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

namespace {

constexpr std::string_view kSignInMarkers[] = {"type=\"password\"", "type='password'", "type=password",
                                               "TPL_password"};
constexpr std::size_t kLongestMarker = 15;

bool MarkerAt(std::string_view text, std::size_t at) {
  for (std::string_view marker : kSignInMarkers) {
    if (text.size() - at < marker.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < marker.size() && same; ++k) {
      char c = text[at + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
      char m = marker[k];
      if (m >= 'A' && m <= 'Z') m = static_cast<char>(m + ('a' - 'A'));
      same = c == m;
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

bool LooksLikeSignInPage(std::string_view page) {
  for (std::string_view marker : kSignInMarkers) {
    if (FindText(page, marker, 1, /*ignoreAsciiCase=*/true) > 0) return true;
  }
  return false;
}

void SignInMarkerSearch::Feed(std::string_view bytes) {
  if (found_) return;
  carry_.append(bytes);
  Search(false);
}

bool SignInMarkerSearch::Finish() {
  if (!found_) Search(true);
  return found_;
}

void SignInMarkerSearch::Search(bool complete) {
  // Walks the characters as FindText does (a lead byte and the byte after
  // it are one), trying the markers where each character starts, as far as
  // every marker's bytes are in.
  const std::string_view text = carry_;
  std::size_t i = 0;
  while (i < text.size() && (complete || text.size() - i >= kLongestMarker)) {
    if ((text[i] == 't' || text[i] == 'T') && MarkerAt(text, i)) {
      found_ = true;
      carry_.clear();
      return;
    }
    i += IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
  }
  carry_.erase(0, i);
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
