#include "http/http_request.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "base/mutex.h"
#include "http/cookie_store.h"
#include "http/tls_trust.h"
#include "http/url.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

constexpr char kAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr char kAcceptLine[] =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
constexpr char kAcceptLanguageLine[] = "Accept-Language: zh-cn";
constexpr char kFormTypeLine[] = "Content-Type: application/x-www-form-urlencoded";

// Redirects followed before a request counts as failed.
constexpr int kMaxRedirects = 10;

std::atomic<std::int64_t> g_boundMs{kHttpRequestBound.count()};

Mutex g_unixSocketMutex;
std::string g_unixSocket AD_GUARDED_BY(g_unixSocketMutex);

std::string UnixSocket() {
  MutexLock lock(g_unixSocketMutex);
  return g_unixSocket;
}

bool CurlReady() {
  // Thread-safe with this libcurl; done once, never undone while the process
  // may still send requests.
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// Where one exchange goes.
struct Target {
  bool tls = false;
  std::string host;  // lower case
  int port = 80;
  std::string path;  // from "/", query included
};

bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

bool ValidTarget(const Target& t) {
  return !t.host.empty() && std::all_of(t.host.begin(), t.host.end(), IsHostByte) && t.port >= 1 &&
         t.port <= 65535;
}

// The target of the caller's URL, split by the URL rules of the program. An
// "https://" URL without a written port goes to 443: TLS on port 80 would
// reach nothing; an empty port goes to the scheme's default (RequestPort).
std::optional<Target> TargetOfUrl(std::string_view url) {
  Target t;
  t.host = UrlHost(url);
  t.tls = UrlIsHttps(url);
  t.port = RequestPort(url);
  t.path = UrlPath(url);
  if (!ValidTarget(t)) return std::nullopt;
  return t;
}

// The target of a redirect's Location, resolved by libcurl against the URL
// that answered. Only http and https are followed.
std::optional<Target> TargetOfRedirect(const std::string& location) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> u(curl_url(), &curl_url_cleanup);
  if (!u || curl_url_set(u.get(), CURLUPART_URL, location.c_str(), 0) != CURLUE_OK) return std::nullopt;
  auto part = [&](CURLUPart which, unsigned flags) -> std::optional<std::string> {
    char* text = nullptr;
    if (curl_url_get(u.get(), which, &text, flags) != CURLUE_OK) return std::nullopt;
    std::string out = text;
    curl_free(text);
    return out;
  };
  auto scheme = part(CURLUPART_SCHEME, 0);
  auto host = part(CURLUPART_HOST, 0);
  auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
  auto path = part(CURLUPART_PATH, 0);
  auto query = part(CURLUPART_QUERY, 0);
  if (!scheme || !host || !port || !path) return std::nullopt;
  Target t;
  const std::string lowerScheme = AsciiLower(*scheme);
  if (lowerScheme != "http" && lowerScheme != "https") return std::nullopt;
  t.tls = lowerScheme == "https";
  t.host = AsciiLower(*host);
  t.port = std::atoi(port->c_str());
  t.path = *path;
  if (query) t.path += "?" + *query;
  if (!ValidTarget(t)) return std::nullopt;
  return t;
}

// The request target as it goes on the request line: the path without its
// fragment (never sent to a server), with bytes that may not appear there
// (controls, space, bytes of double-byte characters) percent-encoded.
std::string RequestTarget(std::string_view path) {
  path = path.substr(0, path.find('#'));
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : path) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out.empty() ? "/" : out;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

bool HasControlBytes(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

// What one exchange sends and what came back.
struct Exchange {
  std::string verb;
  std::string_view body;  // sent when `withBody`
  bool withBody = false;
  std::string cookieLine;  // empty: no Cookie line
  std::size_t maxAnswer = kDefaultAnswerLimit;
  std::string unixSocket;  // empty: connect to the host

  // Takes the final answer's body as it arrives; null: the body is held in
  // `answer`.
  const HttpBodySink* sink = nullptr;
  long headStatus = 0;        // of the answer whose head came last
  bool headLocation = false;  // that answer has a Location line
  enum class BodyGoes { kUndecided, kToSink, kHeld } bodyGoes = BodyGoes::kUndecided;

  std::string answer;  // never longer than maxAnswer
  std::vector<std::string> setCookies;
  long status = 0;
  std::string redirectUrl;
  std::uint64_t bodyBytes = 0;  // delivered by the connection, refused ones included
  std::size_t headBytes = 0;
  bool tooLarge = false;
};

bool IsRedirectStatus(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  ex->bodyBytes += n;
  if (ex->sink && ex->bodyGoes == Exchange::BodyGoes::kUndecided) {
    // The head is complete: the body of a redirect that will be followed
    // is held (and dropped), any other goes to the sink as it comes.
    const bool followed = IsRedirectStatus(ex->headStatus) && ex->headLocation;
    ex->bodyGoes = followed ? Exchange::BodyGoes::kHeld : Exchange::BodyGoes::kToSink;
  }
  if (ex->bodyGoes == Exchange::BodyGoes::kToSink) {
    (*ex->sink)(std::string_view(data, n));
    return n;
  }
  if (n > ex->maxAnswer - ex->answer.size()) {
    // Not one byte beyond the limit is kept; a short count ends the transfer.
    ex->tooLarge = true;
    return 0;
  }
  ex->answer.append(data, n);
  return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const std::string_view line(data, size * count);
  ex->headBytes += line.size();
  if (ex->headBytes > kAnswerHeadLimit) {
    ex->tooLarge = true;
    return 0;
  }
  if (line.size() > 5 && line.substr(0, 5) == "HTTP/") {
    // A new answer's head (after a 1xx, the final one's).
    const std::size_t space = line.find(' ');
    ex->headStatus = space == line.npos ? 0 : std::atol(std::string(line.substr(space + 1, 3)).c_str());
    ex->headLocation = false;
    ex->bodyGoes = Exchange::BodyGoes::kUndecided;
  } else if (line.size() > 9 && AsciiLower(line.substr(0, 9)) == "location:") {
    ex->headLocation = true;
  }
  constexpr std::string_view kSetCookie = "set-cookie:";
  if (line.size() > kSetCookie.size() && AsciiLower(line.substr(0, kSetCookie.size())) == kSetCookie) {
    std::string_view value = line.substr(kSetCookie.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.remove_suffix(1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    ex->setCookies.emplace_back(value);
  }
  return line.size();
}

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistFree>;

bool Append(Slist& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (!grown) return false;
  list.release();
  list.reset(grown);
  return true;
}

// Runs one exchange on a handle of its own, within `timeoutMs`. kAnswered
// when libcurl completed it (whatever the status).
HttpOutcome RunExchange(const Target& target, std::string_view referer, long timeoutMs, Exchange& ex) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
  if (!handle) return HttpOutcome::kFailed;
  CURL* h = handle.get();

  Slist headers;
  bool listOk = Append(headers, kAcceptLine) && Append(headers, "Referer: " + std::string(referer)) &&
                Append(headers, kAcceptLanguageLine);
  if (listOk && !ex.cookieLine.empty()) listOk = Append(headers, "Cookie: " + ex.cookieLine);
  if (listOk && ex.withBody) {
    listOk = Append(headers, kFormTypeLine) &&
             Append(headers, "Content-Length: " + std::to_string(ex.body.size())) &&
             // Keeps libcurl from asking for a 100 Continue on large bodies.
             Append(headers, "Expect:");
  }
  if (!listOk) return HttpOutcome::kFailed;

  const std::string address = std::string(target.tls ? "https://" : "http://") + target.host + ":" +
                              std::to_string(target.port) + "/";
  const std::string requestTarget = RequestTarget(target.path);

  bool ok = curl_easy_setopt(h, CURLOPT_URL, address.c_str()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_REQUEST_TARGET, requestTarget.c_str()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, ex.verb.c_str()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK &&
            // A direct connection whatever the environment says about proxies.
            curl_easy_setopt(h, CURLOPT_PROXY, "") == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_USERAGENT, kAgent) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_WRITEDATA, &ex) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_HEADERDATA, &ex) == CURLE_OK;
  // An answer that announces a longer body fails before its body; a body
  // read as it arrives has no limit.
  if (ok && !ex.sink) {
    ok = curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(ex.maxAnswer)) == CURLE_OK;
  }
  // The server's certificate and name are checked (the CAs: tls_trust.h).
  if (ok) ok = ApplyTlsTrust(h);
  if (ok && !ex.unixSocket.empty()) {
    ok = curl_easy_setopt(h, CURLOPT_UNIX_SOCKET_PATH, ex.unixSocket.c_str()) == CURLE_OK;
  }
  if (ok && ex.withBody) {
    ok = curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ex.body.size())) ==
             CURLE_OK &&
         curl_easy_setopt(h, CURLOPT_POSTFIELDS, ex.body.data()) == CURLE_OK;
  }
  if (!ok) return HttpOutcome::kFailed;

  const CURLcode done = curl_easy_perform(h);
  if (ex.tooLarge || done == CURLE_FILESIZE_EXCEEDED) {
    ex.answer.clear();
    ex.answer.shrink_to_fit();
    return HttpOutcome::kTooLarge;
  }
  if (done == CURLE_OPERATION_TIMEDOUT) return HttpOutcome::kTimedOut;
  if (done != CURLE_OK) return HttpOutcome::kFailed;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &ex.status);
  char* location = nullptr;
  if (curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
    ex.redirectUrl = location;
  return HttpOutcome::kAnswered;
}

}  // namespace

const char* Describe(HttpOutcome outcome) {
  switch (outcome) {
    case HttpOutcome::kAnswered:
      return "answered";
    case HttpOutcome::kRefused:
      return "refused before sending";
    case HttpOutcome::kFailed:
      return "failed";
    case HttpOutcome::kTimedOut:
      return "timed out";
    case HttpOutcome::kTooLarge:
      return "answer too large";
  }
  return "unknown";
}

void SetHttpTimeoutForTesting(std::chrono::milliseconds bound) {
  g_boundMs.store(bound.count() > 0 ? bound.count() : kHttpRequestBound.count());
}

void SetHttpUnixSocketForTesting(std::string path) {
  MutexLock lock(g_unixSocketMutex);
  g_unixSocket = std::move(path);
}

std::string HttpRequest(std::string_view url, std::string_view method, std::string_view body,
                        std::string_view cookie, std::size_t maxAnswerBytes) {
  HttpResult result = HttpRequestDetailed(url, method, body, cookie, maxAnswerBytes);
  return result.outcome == HttpOutcome::kAnswered ? std::move(result.body) : std::string();
}

namespace {

HttpResult RunRequest(std::string_view url, std::string_view method, std::string_view body,
                      std::string_view cookie, std::size_t maxAnswerBytes, const HttpBodySink* sink) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(g_boundMs.load());
  HttpResult result;
  auto ends = [&result](HttpOutcome outcome) {
    result.outcome = outcome;
    return std::move(result);
  };

  const std::string upper = AsciiUpper(method);
  const bool isPost = upper == "POST";
  if (!isPost && !upper.empty() && upper != "GET") return ends(HttpOutcome::kRefused);
  // A line break in the URL or the cookie would end its header line early
  // and let the rest pass for header lines of its own.
  if (HasControlBytes(url) || HasLineBreakOrNul(cookie)) return ends(HttpOutcome::kRefused);
  std::optional<Target> target = TargetOfUrl(url);
  if (!target) return ends(HttpOutcome::kRefused);
  if (!CurlReady()) return ends(HttpOutcome::kFailed);

  const bool cookieGiven = !TrimSpaces(cookie).empty();
  const std::string firstHost = target->host;
  std::string verb = method.empty() ? std::string("GET") : std::string(method);
  bool withBody = isPost && !body.empty();
  const std::string unixSocket = UnixSocket();

  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return ends(HttpOutcome::kTimedOut);

    Exchange ex;
    ex.verb = verb;
    ex.body = body;
    ex.withBody = withBody;
    ex.maxAnswer = sink ? kDefaultAnswerLimit : maxAnswerBytes;
    ex.sink = sink;
    ex.unixSocket = unixSocket;
    CookieStore& store = CookieStore::Global();
    if (cookieGiven) {
      // The caller's cookie belongs to the host it was asked for; a redirect
      // elsewhere goes without it.
      if (target->host == firstHost) ex.cookieLine = std::string(cookie);
    } else {
      ex.cookieLine = store.CookieLineFor(target->host, target->path, target->tls);
    }

    const HttpOutcome outcome = RunExchange(*target, url, static_cast<long>(left), ex);
    result.bodyBytesReceived += ex.bodyBytes;
    if (!cookieGiven) {
      for (const std::string& line : ex.setCookies) store.RecordSetCookie(target->host, target->path, line);
    }
    if (outcome != HttpOutcome::kAnswered) return ends(outcome);

    if (!IsRedirectStatus(ex.status) || ex.redirectUrl.empty()) {
      // A redirect's body held in vain (no URL to follow) is the answer.
      if (sink && ex.bodyGoes == Exchange::BodyGoes::kHeld) (*sink)(ex.answer);
      if (!sink) result.body = std::move(ex.answer);
      return ends(HttpOutcome::kAnswered);
    }

    target = TargetOfRedirect(ex.redirectUrl);
    if (!target) return ends(HttpOutcome::kFailed);
    if (ex.status != 307 && ex.status != 308 && (isPost || ex.status == 303)) {
      // As browsers do: the form is not posted again to the new address.
      verb = "GET";
      withBody = false;
    }
  }
  return ends(HttpOutcome::kFailed);
}

}  // namespace

HttpResult HttpRequestDetailed(std::string_view url, std::string_view method, std::string_view body,
                               std::string_view cookie, std::size_t maxAnswerBytes) {
  return RunRequest(url, method, body, cookie, maxAnswerBytes, nullptr);
}

HttpResult HttpRequestStreamed(std::string_view url, std::string_view method, std::string_view body,
                               std::string_view cookie, const HttpBodySink& sink) {
  return RunRequest(url, method, body, cookie, kDefaultAnswerLimit, &sink);
}

}  // namespace autodeliver
