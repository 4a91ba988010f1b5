// The process cookie store shared by the login browser and the program's own
// requests.
//
// The login browser feeds it every cookie it receives or drops (Put, Remove);
// requests sent without a cookie take their Cookie line from it and record
// the Set-Cookie answers in it (http/http_request.h); ReadBrowserCookies
// (http/browser_cookies.h) reads the cookies of a host as one text.
//
// Cookies follow the usual browser rules: a cookie is identified by domain,
// path and name, a later one replacing an earlier one; a domain given with a
// leading "." (as the browser reports it) or by a Domain attribute also
// covers the subdomains, otherwise the cookie belongs to that host alone;
// secure-only cookies go out only over TLS; an expired cookie is never
// returned and is dropped when met. At most 180 cookies per domain and 3000
// in all are kept; beyond that the oldest are dropped.
//
// Thread safety: every member may be called from any thread at once; one
// mutex guards the cookies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/mutex.h"

namespace autodeliver {

// One cookie as the browser reports it. Texts are bytes as they arrive
// (ASCII/UTF-8). `domain` with a leading "." is a domain cookie, without one
// a host-only cookie. `expiresUnix` is seconds since 1970 (UTC); none for a
// session cookie, which lives until the process ends.
struct BrowserCookie {
  std::string name;
  std::string value;
  std::string domain;
  std::string path;
  bool secure = false;
  bool httpOnly = false;
  std::optional<std::int64_t> expiresUnix;
};

class CookieStore {
 public:
  CookieStore() = default;
  CookieStore(const CookieStore&) = delete;
  CookieStore& operator=(const CookieStore&) = delete;

  // The one store of the process.
  static CookieStore& Global();

  // Adds a cookie or replaces the one with the same domain, path and name.
  // A cookie that has already expired removes that one instead. An empty
  // path counts as "/"; a cookie without name or domain is ignored.
  void Put(const BrowserCookie& cookie);

  // Removes the cookie with this domain, path and name, if there is one. The
  // domain may carry the leading "." of a domain cookie or not.
  void Remove(std::string_view domain, std::string_view path, std::string_view name);

  // Removes every cookie.
  void Clear();

  // Removes every cookie and stores `cookies` (each as Put would), in one
  // step: a reader sees the old cookies or the new ones, never a mixture.
  // A new sign-in replaces the cookies of the old one this way.
  void ReplaceAll(const std::vector<BrowserCookie>& cookies);

  // Every cookie held and not expired, in the order they were first stored.
  std::vector<BrowserCookie> Snapshot() const;

  // The Cookie line value for a request to `host` (lower case, no port) and
  // `path` (query allowed, it is ignored): "name=value; name=value", longer
  // paths first, then older cookies first. Secure-only cookies are included
  // only when `secureChannel`. Empty when no cookie applies.
  std::string CookieLineFor(std::string_view host, std::string_view path, bool secureChannel) const;

  // Records the value of one Set-Cookie header line of an answer from `host`
  // to a request for `path`. Attributes Expires, Max-Age, Domain, Path,
  // Secure and HttpOnly are honoured; a Domain that does not cover `host`
  // makes the line be ignored.
  void RecordSetCookie(std::string_view host, std::string_view path, std::string_view setCookie);

 private:
  struct Entry {
    BrowserCookie cookie;  // domain lower case, without the leading "."
    bool hostOnly = true;
    std::uint64_t created = 0;
  };
  // The entry Put stores for `cookie`; none for a cookie Put ignores.
  static std::optional<Entry> MakeEntry(const BrowserCookie& cookie);
  void Store(Entry entry) AD_REQUIRES(mutex_);

  mutable Mutex mutex_;
  std::vector<Entry> entries_ AD_GUARDED_BY(mutex_);
  std::uint64_t nextCreated_ AD_GUARDED_BY(mutex_) = 0;
};

}  // namespace autodeliver
