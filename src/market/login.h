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

}  // namespace autodeliver
