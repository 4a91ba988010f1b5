#include "http/cookie_store.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <limits>

#include "text/gbk.h"

namespace autodeliver {

namespace {

// Longest name plus value kept, as browsers limit a cookie.
constexpr std::size_t kMaxCookieBytes = 4096;
// Most cookies kept for one domain and in all; beyond them the oldest go, so
// that no server can make the store grow without end.
constexpr std::size_t kMaxCookiesPerDomain = 180;
constexpr std::size_t kMaxCookies = 3000;

std::int64_t NowUnix() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool IsExpired(const BrowserCookie& cookie, std::int64_t now) {
  return cookie.expiresUnix && *cookie.expiresUnix <= now;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Bytes that would break the Cookie line a cookie is sent in.
bool HasControlBytes(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return (b < 0x20 && b != '\t') || b == 0x7F;
  });
}

bool IsIpAddress(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;
  return !host.empty() &&
         std::all_of(host.begin(), host.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

bool DomainMatches(std::string_view host, std::string_view domain, bool hostOnly) {
  if (host == domain) return true;
  if (hostOnly || IsIpAddress(host) || host.size() <= domain.size()) return false;
  return host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.';
}

// The path of a request without its query and fragment, "/" when it has none.
std::string_view PathOnly(std::string_view path) {
  path = path.substr(0, path.find_first_of("?#"));
  if (path.empty() || path.front() != '/') return "/";
  return path;
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (requestPath == cookiePath) return true;
  if (!requestPath.starts_with(cookiePath)) return false;
  return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

// The path a cookie without a usable Path attribute gets: the request path
// up to, not including, its last "/".
std::string DefaultPath(std::string_view requestPath) {
  std::string_view p = PathOnly(requestPath);
  std::size_t last = p.rfind('/');
  if (last == 0 || last == std::string_view::npos) return "/";
  return std::string(p.substr(0, last));
}

// Reads a Max-Age value: an optional "-" and digits only.
std::optional<std::int64_t> ParseMaxAge(std::string_view v) {
  bool negative = false;
  if (!v.empty() && v.front() == '-') {
    negative = true;
    v.remove_prefix(1);
  }
  if (v.empty()) return std::nullopt;
  std::int64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return std::nullopt;
    if (n < std::numeric_limits<std::int64_t>::max() / 20) n = n * 10 + (c - '0');
  }
  return negative ? -n : n;
}

}  // namespace

CookieStore& CookieStore::Global() {
  static CookieStore store;
  return store;
}

void CookieStore::Store(Entry entry) {
  auto same = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
    return e.cookie.domain == entry.cookie.domain && e.cookie.path == entry.cookie.path &&
           e.cookie.name == entry.cookie.name;
  });
  const std::int64_t now = NowUnix();
  if (IsExpired(entry.cookie, now)) {
    if (same != entries_.end()) entries_.erase(same);
    return;
  }
  if (same != entries_.end()) {
    entry.created = same->created;
    *same = std::move(entry);
  } else {
    const std::string domain = entry.cookie.domain;
    entry.created = nextCreated_++;
    entries_.push_back(std::move(entry));
    // Entries stay in the order they were created, so the oldest come first.
    std::size_t sameDomain = 0;
    for (const Entry& e : entries_) sameDomain += e.cookie.domain == domain;
    if (sameDomain > kMaxCookiesPerDomain) {
      entries_.erase(std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.cookie.domain == domain; }));
    }
    if (entries_.size() > kMaxCookies) entries_.erase(entries_.begin());
  }
  std::erase_if(entries_, [now](const Entry& e) { return IsExpired(e.cookie, now); });
}

std::optional<CookieStore::Entry> CookieStore::MakeEntry(const BrowserCookie& cookie) {
  if (cookie.name.empty() || HasControlBytes(cookie.name) || HasControlBytes(cookie.value) ||
      cookie.name.find_first_of("=;") != std::string::npos || cookie.value.find(';') != std::string::npos) {
    return std::nullopt;
  }
  Entry entry;
  entry.cookie = cookie;
  std::string_view domain = cookie.domain;
  if (!domain.empty() && domain.front() == '.') {
    entry.hostOnly = false;
    domain.remove_prefix(1);
  }
  if (domain.empty()) return std::nullopt;
  entry.cookie.domain = AsciiLower(domain);
  if (entry.cookie.path.empty()) entry.cookie.path = "/";
  return entry;
}

void CookieStore::Put(const BrowserCookie& cookie) {
  std::optional<Entry> entry = MakeEntry(cookie);
  if (!entry) return;
  MutexLock lock(mutex_);
  Store(std::move(*entry));
}

void CookieStore::ReplaceAll(const std::vector<BrowserCookie>& cookies) {
  std::vector<Entry> entries;
  for (const BrowserCookie& cookie : cookies) {
    if (std::optional<Entry> entry = MakeEntry(cookie)) entries.push_back(std::move(*entry));
  }
  MutexLock lock(mutex_);
  entries_.clear();
  for (Entry& entry : entries) Store(std::move(entry));
}

void CookieStore::Remove(std::string_view domain, std::string_view path, std::string_view name) {
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  const std::string lowerDomain = AsciiLower(domain);
  if (path.empty()) path = "/";
  MutexLock lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) {
    return e.cookie.domain == lowerDomain && e.cookie.path == path && e.cookie.name == name;
  });
}

void CookieStore::Clear() {
  MutexLock lock(mutex_);
  entries_.clear();
}

std::vector<BrowserCookie> CookieStore::Snapshot() const {
  const std::int64_t now = NowUnix();
  std::vector<BrowserCookie> out;
  MutexLock lock(mutex_);
  for (const Entry& e : entries_) {
    if (IsExpired(e.cookie, now)) continue;
    BrowserCookie c = e.cookie;
    if (!e.hostOnly) c.domain.insert(0, ".");
    out.push_back(std::move(c));
  }
  return out;
}

std::string CookieStore::CookieLineFor(std::string_view host, std::string_view path,
                                       bool secureChannel) const {
  const std::int64_t now = NowUnix();
  const std::string_view requestPath = PathOnly(path);
  std::vector<const Entry*> chosen;
  MutexLock lock(mutex_);
  for (const Entry& e : entries_) {
    if (IsExpired(e.cookie, now) || (e.cookie.secure && !secureChannel)) continue;
    if (!DomainMatches(host, e.cookie.domain, e.hostOnly) || !PathMatches(requestPath, e.cookie.path))
      continue;
    chosen.push_back(&e);
  }
  std::stable_sort(chosen.begin(), chosen.end(), [](const Entry* a, const Entry* b) {
    if (a->cookie.path.size() != b->cookie.path.size()) return a->cookie.path.size() > b->cookie.path.size();
    return a->created < b->created;
  });
  std::string line;
  for (const Entry* e : chosen) {
    if (!line.empty()) line += "; ";
    line += e->cookie.name;
    line += '=';
    line += e->cookie.value;
  }
  return line;
}

void CookieStore::RecordSetCookie(std::string_view host, std::string_view path, std::string_view setCookie) {
  std::size_t semi = setCookie.find(';');
  std::string_view pair = setCookie.substr(0, semi);
  std::size_t eq = pair.find('=');
  if (eq == std::string_view::npos) return;
  const std::string_view name = TrimBlanks(pair.substr(0, eq));
  const std::string_view value = TrimBlanks(pair.substr(eq + 1));
  if (name.empty() || name.size() + value.size() > kMaxCookieBytes || HasControlBytes(name) ||
      HasControlBytes(value)) {
    return;
  }

  Entry entry;
  entry.cookie.name = std::string(name);
  entry.cookie.value = std::string(value);
  entry.cookie.domain = AsciiLower(host);
  entry.cookie.path = DefaultPath(path);
  std::optional<std::int64_t> maxAgeExpiry;
  std::optional<std::int64_t> expires;
  std::string domainAttribute;

  std::string_view rest = semi == std::string_view::npos ? std::string_view{} : setCookie.substr(semi + 1);
  while (!rest.empty()) {
    std::size_t next = rest.find(';');
    std::string_view attribute = rest.substr(0, next);
    rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
    std::size_t aeq = attribute.find('=');
    const std::string key = AsciiLower(TrimBlanks(attribute.substr(0, aeq)));
    const std::string_view v =
        aeq == std::string_view::npos ? std::string_view{} : TrimBlanks(attribute.substr(aeq + 1));
    if (key == "expires") {
      const time_t t = curl_getdate(std::string(v).c_str(), nullptr);
      if (t != -1) expires = static_cast<std::int64_t>(t);
    } else if (key == "max-age") {
      if (auto seconds = ParseMaxAge(v)) {
        // A zero or negative age deletes the cookie at once.
        maxAgeExpiry = *seconds <= 0 ? 0 : NowUnix() + *seconds;
      }
    } else if (key == "domain") {
      std::string_view d = v;
      if (!d.empty() && d.front() == '.') d.remove_prefix(1);
      if (!d.empty()) domainAttribute = AsciiLower(d);
    } else if (key == "path") {
      if (!v.empty() && v.front() == '/') entry.cookie.path = std::string(v);
    } else if (key == "secure") {
      entry.cookie.secure = true;
    } else if (key == "httponly") {
      entry.cookie.httpOnly = true;
    }
  }
  entry.cookie.expiresUnix = maxAgeExpiry ? maxAgeExpiry : expires;

  if (!domainAttribute.empty() && domainAttribute != entry.cookie.domain) {
    // A Domain attribute must cover the answering host, and a bare top-level
    // name ("com") never makes a domain cookie.
    if (!DomainMatches(entry.cookie.domain, domainAttribute, false) ||
        domainAttribute.find('.') == std::string::npos) {
      return;
    }
    entry.cookie.domain = domainAttribute;
    entry.hostOnly = false;
  } else if (!domainAttribute.empty()) {
    entry.hostOnly = IsIpAddress(domainAttribute);
  }
  if (entry.cookie.domain.empty()) return;
  MutexLock lock(mutex_);
  Store(std::move(entry));
}

}  // namespace autodeliver
