#include "http/browser_cookies.h"

#include "http/cookie_store.h"
#include "http/url.h"

namespace autodeliver {

namespace {
// The cookie text is read into a buffer of this many bytes, its terminating
// zero included; a longer text does not fit and reads as none.
constexpr std::size_t kCookieBufferBytes = 512;
}  // namespace

std::string ReadBrowserCookies(std::string_view url) {
  const std::string host = UrlHost(url);
  if (host.empty()) return {};
  std::string text = CookieStore::Global().CookieLineFor(host, "/", /*secureChannel=*/false);
  if (text.size() >= kCookieBufferBytes) return {};
  return text;
}

}  // namespace autodeliver
