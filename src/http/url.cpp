#include "http/url.h"

#include <cmath>
#include <cstdlib>

#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {

namespace {

// The 1-based position where the host begins: after the first lower-case
// "http://" or, failing that, "https://"; else the first byte.
long HostStart(std::string_view url) {
  long p = FindText(url, "http://");
  if (p != -1) return p + 7;
  p = FindText(url, "https://");
  if (p != -1) return p + 8;
  return 1;
}

}  // namespace

std::string UrlHost(std::string_view url, bool keepPort) {
  const long start = HostStart(url);
  std::string host;
  if (static_cast<size_t>(start - 1) <= url.size()) {
    long slash = FindText(url, "/", start);
    size_t from = static_cast<size_t>(start - 1);
    size_t to = slash == -1 ? url.size() : static_cast<size_t>(slash - 1);
    host = std::string(url.substr(from, to - from));
  }
  if (!keepPort) {
    long colon = FindText(host, ":");
    if (colon != -1) host.resize(static_cast<size_t>(colon - 1));
  }
  return AsciiLower(host);
}

std::string UrlPath(std::string_view url) {
  const std::string host = UrlHost(url);
  // The host is looked for where it begins, not from the first byte: a
  // short host such as "h" or "tp" would otherwise be found inside the
  // scheme and the path would start at the scheme's slashes.
  long p = FindText(url, host, HostStart(url), /*ignoreAsciiCase=*/true);
  if (p == -1) p = 1;
  long slash = FindText(url, "/", p);
  if (slash == -1) return "/";
  return std::string(url.substr(static_cast<size_t>(slash - 1)));
}

int UrlPort(std::string_view url) {
  const std::string host = UrlHost(url, /*keepPort=*/true);
  long colon = FindText(host, ":");
  if (colon == -1) return 80;
  const std::string digits = FoldFullWidth(host.substr(static_cast<size_t>(colon)));
  // strtod reads as atof does (leading blanks, sign, digits, fraction,
  // exponent); the C locale is the program's numeric locale.
  double value = std::strtod(digits.c_str(), nullptr);
  if (!std::isfinite(value)) return 0;
  value = std::trunc(value);
  if (value > 2147483647.0) return 2147483647;
  if (value < -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(value);
}

bool UrlIsHttps(std::string_view url) {
  return FindText(url, "http://") == -1 && FindText(url, "https://") != -1;
}

int RequestPort(std::string_view url) {
  const std::string host = UrlHost(url, /*keepPort=*/true);
  const long colon = FindText(host, ":");
  if (colon == -1 || static_cast<size_t>(colon) == host.size()) return UrlIsHttps(url) ? 443 : 80;
  return UrlPort(url);
}

std::string PercentEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace autodeliver
