// Fuzz target: the marketplace's web server answering a request. The bytes
// are the raw answers (status line, headers, body) to one request, answers
// to its redirects separated by a line "--next--"; each exchange gets the
// next one over a local socket, so nothing goes to the network. The
// first byte chooses GET or POST and whether the request carries its own
// cookie; without one the cookie store takes the answers' Set-Cookie lines.
//
// Properties: a body beyond the limit never comes back, the bytes counted
// never fall short of the body returned, and every stored cookie can be
// sent again on a header line.
#include "fuzz_targets.h"
#include "http/cookie_store.h"
#include "http/http_request.h"

namespace autodeliver::fuzz {
namespace {

constexpr std::size_t kBodyLimit = 4096;

}  // namespace

int FuzzHttpAnswer(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> answers;
  constexpr std::string_view kSeparator = "\n--next--\n";
  for (std::size_t from = 0;;) {
    const std::size_t at = input.find(kSeparator, from);
    answers.emplace_back(
        input.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) break;
    from = at + kSeparator.size();
  }

  CookieStore::Global().Clear();
  SetHttpTimeoutForTesting(std::chrono::seconds(5));
  ServeAnswers(std::move(answers));
  const bool post = mode & 1;
  const std::string cookie = mode & 2 ? "sid=1" : "";
  const HttpResult result = HttpRequestDetailed("http://list.fuzz.example/user/order_list_new.htm",
                                                post ? "POST" : "GET", post ? "a=1" : "", cookie, kBodyLimit);
  StopServingAnswers();
  SetHttpTimeoutForTesting(std::chrono::milliseconds(0));

  Require(result.outcome == HttpOutcome::kAnswered || result.body.empty(),
          "a failed request returns nothing");
  Require(result.body.size() <= kBodyLimit, "no body beyond the limit comes back");
  Require(result.bodyBytesReceived >= result.body.size(), "the bytes counted cover the body");
  for (const BrowserCookie& c : CookieStore::Global().Snapshot()) {
    const std::string line = CookieStore::Global().CookieLineFor(
        c.domain.starts_with('.') ? c.domain.substr(1) : c.domain, c.path, true);
    Require(line.find_first_of("\r\n") == std::string::npos, "a stored cookie fits on one header line");
  }
  CookieStore::Global().Clear();
  return 0;
}

}  // namespace autodeliver::fuzz
