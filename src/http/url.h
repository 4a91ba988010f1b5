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

// True when the host of `url` follows "https://" (no "http://" comes
// first): the request goes over TLS.
bool UrlIsHttps(std::string_view url);

// The port a request for `url` is sent to: the written port (UrlPort); with
// no port written, or an empty one ("http://host:/path"), the scheme's
// default, 443 for an https URL and 80 otherwise, as the platform's request
// library chose it. A port written as something other than digits still
// gives UrlPort's 0, which no request can go to.
int RequestPort(std::string_view url);

// `text` percent-encoded for a query value or form field: every byte but
// A-Z, a-z, 0-9 and "-_.~" becomes "%" and two upper-case hex digits.
std::string PercentEncode(std::string_view text);

}  // namespace autodeliver
