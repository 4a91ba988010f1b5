// Reading the cookies a host holds in the process cookie store as one text,
// the form the marketplace requests pass as their Cookie line.
//
// Thread safety: free function; the store it reads is thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace autodeliver {

// The cookies that the process cookie store would send to "http://" + the
// host of `url` + "/" (whatever the scheme of `url`): "name=value; name=value".
// Secure-only and expired cookies are left out. Empty when there are none,
// and when the text would be 512 bytes or more.
std::string ReadBrowserCookies(std::string_view url);

}  // namespace autodeliver
