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
// Size bounds: every answer's body has a limit chosen by the caller for its
// use (an order page, a profile page, an online card, a service answer);
// the head of an answer may have at most kAnswerHeadLimit bytes. An answer
// that announces a longer body fails before its body is read, one that sends
// more stops being read at the limit; either way the request fails as any
// failed request does, and the memory taken stays near the limit. A caller
// that reads the body as it arrives (HttpRequestStreamed) sets no limit:
// what it keeps of the body is its own to bound.
//
// Thread safety: HttpRequest may be called from any number of threads at
// once; each call uses its own connection and shares only the cookie store.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace autodeliver {

// The longest a request may take in the program, redirects included.
inline constexpr std::chrono::milliseconds kHttpRequestBound{90000};

// The body limit of a request whose caller names none.
inline constexpr std::size_t kDefaultAnswerLimit = std::size_t{8} << 20;
// The most bytes of status and header lines one answer may have.
inline constexpr std::size_t kAnswerHeadLimit = std::size_t{256} << 10;

// How a request ended.
enum class HttpOutcome {
  kAnswered,  // an answer came, whatever its status; its body is the result
  kRefused,   // nothing was sent: an unknown method, a bad URL or cookie
  kFailed,    // no connection, a broken transfer, a bad or endless redirect
  kTimedOut,  // the time bound ran out
  kTooLarge,  // an answer's body or head was longer than allowed
};

// A short English name of an outcome, for printouts.
const char* Describe(HttpOutcome outcome);

struct HttpResult {
  HttpOutcome outcome = HttpOutcome::kRefused;
  std::string body;  // the final answer's body; empty unless kAnswered
  // Body bytes the connection delivered, every answer of the request
  // together (redirects included), counted also when they were refused.
  std::uint64_t bodyBytesReceived = 0;
};

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
//
// `maxAnswerBytes` is the most bytes an answer's body may have; a longer one
// fails the request.
std::string HttpRequest(std::string_view url, std::string_view method = "GET", std::string_view body = {},
                        std::string_view cookie = {}, std::size_t maxAnswerBytes = kDefaultAnswerLimit);

// The same request, telling how it ended. `body` holds the answer only when
// `outcome` is kAnswered.
HttpResult HttpRequestDetailed(std::string_view url, std::string_view method, std::string_view body,
                               std::string_view cookie, std::size_t maxAnswerBytes);

// Takes the final answer's body piece by piece, as it arrives.
using HttpBodySink = std::function<void(std::string_view piece)>;

// The same request, with the final answer's body handed to `sink` as it
// arrives instead of held (`body` of the result stays empty): the body has
// no length limit, only the time bound. The body of a redirect that is
// followed never reaches the sink (it is held, up to kDefaultAnswerLimit,
// until the redirect is known to be followed). Unless the outcome is
// kAnswered, what the sink got is an incomplete body.
HttpResult HttpRequestStreamed(std::string_view url, std::string_view method, std::string_view body,
                               std::string_view cookie, const HttpBodySink& sink);

// Sets the time bound of every later request; a zero or negative value
// restores kHttpRequestBound. For tests only; the program never calls it.
void SetHttpTimeoutForTesting(std::chrono::milliseconds bound);

// Sends every later exchange to the local (Unix domain) socket at `path`
// instead of the URL's host; the request is the same, and no name is looked
// up. An empty path restores normal connections. For tests and fuzzing,
// which drive the answer handling without a network; the program never
// calls it.
void SetHttpUnixSocketForTesting(std::string path);

}  // namespace autodeliver
