// The one request operation of the program: a single HTTP/1.1 exchange that
// hands back the raw body of the answer.
//
// Every request is sent with the same fixed header lines, in this order:
//
//   GET /path?query HTTP/1.1
//   Host: host[:port]
//   User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)
//   Accept: image/gif, ..., */*
//   Referer: <the whole URL of the request>
//   Accept-Language: zh-cn
//   Cookie: <cookie>                        (when a cookie is given)
//   Content-Type: application/x-www-form-urlencoded   (POST with a body)
//   Content-Length: <bytes of the body>               (POST with a body)
//
// and nothing else. Redirects are followed; nothing is served from a cache;
// the status code is not examined, so an error page comes back like any
// other body. Failures of every kind (no connection, an unknown method, the
// time bound) give an empty result, and nothing is logged.
//
// Cookies: a request with a cookie (anything besides ASCII and full-width
// blanks) carries exactly that Cookie line and neither reads nor changes the
// process cookie store (http/cookie_store.h). A request without one gets the
// store's cookies for each URL it visits and records the cookies its answers
// set. A redirect to another host goes without the caller's cookie; a 301,
// 302 or 303 after a POST is followed with a GET, a 307 or 308 repeats the
// POST. At most 10 redirects are followed.
//
// On the request line, the path's control bytes, spaces and bytes of
// double-byte characters are percent-encoded and a "#fragment" is left off;
// the Referer carries the URL as given. A URL holding control bytes or a
// cookie holding a line break is refused (empty result, nothing sent): it
// would let the caller's text pass for header lines of its own.
//
// Thread safety: HttpRequest may be called from any number of threads at
// once; each call uses its own connection and shares only the cookie store.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace autodeliver {

// The longest a request may take in the program, redirects included.
inline constexpr std::chrono::milliseconds kHttpRequestBound{90000};

// Sends one request and returns the body of the final answer, byte for byte
// (NUL bytes included, no charset conversion). Empty on every failure and
// when the answer has no body.
//
// `url` is an "http://" or "https://" URL; host, port and path are those of
// UrlHost, RequestPort and UrlPath (http/url.h). "https://" URLs are sent
// over TLS with the server's certificate checked. With no port written, or
// an empty one ("http://host:/path"), the request goes to 80, or 443 for
// "https://". `method` is compared after upper-casing ASCII letters: empty or
// "GET" sends a GET, "POST" a POST, anything else sends nothing and fails;
// the verb on the request line is the text given ("GET" when empty). `body`
// is sent only with a POST.
//
// The call never takes longer than the bound (kHttpRequestBound unless a test
// set another); a request that runs out of time yields an empty result even
// when part of the body has arrived.
std::string HttpRequest(std::string_view url, std::string_view method = "GET", std::string_view body = {},
                        std::string_view cookie = {});

// Sets the time bound of every later request; a zero or negative value
// restores kHttpRequestBound. For tests only; the program never calls it.
void SetHttpTimeoutForTesting(std::chrono::milliseconds bound);

}  // namespace autodeliver
