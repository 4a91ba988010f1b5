// Splitting a URL into the host, port and object path that a request goes
// to. The rules are deliberately simple and byte-based: only a lower-case
// "http://" or "https://" is taken for a scheme, the port is 80 unless one
// is written (whatever the scheme), and the path is everything after the
// host, query and fragment included.
//
// Thread safety: free functions without shared state.
#pragma once

#include <string>
#include <string_view>

namespace autodeliver {

// The host of `url`, ASCII letters lower-cased. With `keepPort` the ":port"
// after the host stays.
std::string UrlHost(std::string_view url, bool keepPort = false);

// The object path of `url`: from the first "/" after the host to the end;
// "/" when there is none.
std::string UrlPath(std::string_view url);

// The port written after the host, read as atof reads a number and
// truncated; 80 when no port is written; 0 when what follows the colon is
// no number.
int UrlPort(std::string_view url);

// `text` percent-encoded for a query value or form field: every byte but
// A-Z, a-z, 0-9 and "-_.~" becomes "%" and two upper-case hex digits.
std::string PercentEncode(std::string_view text);

}  // namespace autodeliver
