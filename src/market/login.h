// The seller's login as the program's own requests see it: the login
// cookies the browser left in the shared cookie store, and the seller's nick
// read from the marketplace's profile page.
//
// Thread safety: no state of its own; called from the delivery thread while
// the browser feeds the cookie store from the window's thread (the store is
// thread-safe).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace autodeliver {

// The longest profile page the nick is read from.
inline constexpr std::size_t kProfilePageLimit = std::size_t{2} << 20;

// The cookies the store holds for the login host, as "name=value; ..."; read
// anew on every call; empty when there are none.
std::string LoginCookies();

// The text between the first "亲爱的<b>" and the next "</b>" of the seller's
// profile page (taken as GBK up to its first zero byte); empty when the page
// cannot be fetched, is longer than kProfilePageLimit or holds no nick.
std::string FetchSellerNick();

// True when a page looks like the marketplace's sign-in page: it holds a
// password field (an input of type password, or the sign-in form's
// "TPL_password"). ASCII letters compare without regard to case. The
// marketplace answers a request whose login has expired with that page (or
// a redirect to it). A mere link to the sign-in address does not count: a
// signed-in page may carry one too.
bool LooksLikeSignInPage(std::string_view page);

// LooksLikeSignInPage on a page that arrives in pieces, keeping only the
// few bytes a marker may span across two of them.
class SignInMarkerSearch {
 public:
  // The next bytes of the page.
  void Feed(std::string_view bytes);
  // The page is complete: LooksLikeSignInPage of the whole of it.
  bool Finish();

 private:
  void Search(bool complete);

  std::string carry_;  // the last bytes fed, from a character's start
  bool found_ = false;
};

// What reading the seller's nick from the profile page saw.
enum class NickOutcome {
  kRead,        // the page shows the nick
  kNotOnPage,   // a page came back without the nick and is no sign-in page
  kSignInPage,  // a page came back without the nick and looks like a sign-in page
  kNoAnswer,    // the request failed or answered nothing
};

struct SellerNickRead {
  NickOutcome outcome = NickOutcome::kNoAnswer;
  std::string nick;  // GBK; empty unless kRead
};

// The nick as FetchSellerNick reads it, from a profile page's body.
SellerNickRead ReadSellerNickPage(std::string_view body);
// Fetches the profile page with the login cookies and reads it.
SellerNickRead ReadSellerNick();

}  // namespace autodeliver
