// The process cookie store and the browser cookie read.
#include "http/cookie_store.h"

#include <gtest/gtest.h>

#include <chrono>

#include "http/browser_cookies.h"

namespace autodeliver {
namespace {

std::int64_t NowPlus(std::int64_t seconds) {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
             .count() +
         seconds;
}

BrowserCookie Cookie(std::string name, std::string value, std::string domain, std::string path = "/") {
  BrowserCookie c;
  c.name = std::move(name);
  c.value = std::move(value);
  c.domain = std::move(domain);
  c.path = std::move(path);
  return c;
}

class BrowserCookiesTest : public ::testing::Test {
 protected:
  void SetUp() override { CookieStore::Global().Clear(); }
  void TearDown() override { CookieStore::Global().Clear(); }
  CookieStore& store = CookieStore::Global();
};

TEST_F(BrowserCookiesTest, ReadsThePlainCookiesThatTheHostRootWouldGet) {
  store.Put(Cookie("a", "1", "login.example.com"));
  store.Put(Cookie("b", "2", ".example.com"));
  BrowserCookie secure = Cookie("c", "3", ".example.com");
  secure.secure = true;
  store.Put(secure);
  BrowserCookie expired = Cookie("d", "4", "login.example.com");
  expired.expiresUnix = 1000;
  store.Put(expired);
  BrowserCookie lasting = Cookie("e", "5", "login.example.com");
  lasting.expiresUnix = NowPlus(3600);
  store.Put(lasting);
  store.Put(Cookie("f", "6", "login.example.com", "/member"));
  store.Put(Cookie("g", "7", "example.com"));        // host-only cookie of the parent
  store.Put(Cookie("h", "8", "other.example.com"));  // a sibling host
  BrowserCookie httpOnly = Cookie("i", "9", "LOGIN.Example.COM");
  httpOnly.httpOnly = true;
  store.Put(httpOnly);

  // The scheme, port and path of the URL do not matter: "http://" + host.
  for (const char* url : {"https://login.example.com/member/login.jhtml", "http://login.example.com:8080/x",
                          "login.example.com"}) {
    SCOPED_TRACE(url);
    EXPECT_EQ(ReadBrowserCookies(url), "a=1; b=2; e=5; i=9");
  }
  EXPECT_EQ(ReadBrowserCookies("http://www.example.com/"), "b=2");
  EXPECT_EQ(ReadBrowserCookies("http://unknown.org/"), "");
  // The secure cookie is there for a TLS request, so only the read leaves it out.
  EXPECT_EQ(store.CookieLineFor("login.example.com", "/member/x", true), "f=6; a=1; b=2; c=3; e=5; i=9");
}

TEST_F(BrowserCookiesTest, TextOf512BytesOrMoreReadsAsNone) {
  // "v=" and the value: 511 bytes fit the read with their terminating zero.
  store.Put(Cookie("v", std::string(509, 'x'), "shop.example.com"));
  EXPECT_EQ(ReadBrowserCookies("http://shop.example.com/").size(), 511u);
  store.Put(Cookie("v", std::string(510, 'x'), "shop.example.com"));
  EXPECT_EQ(ReadBrowserCookies("http://shop.example.com/"), "");
  // Two cookies joined by "; " that together reach 512.
  store.Clear();
  store.Put(Cookie("a", std::string(250, 'x'), "shop.example.com"));
  store.Put(Cookie("b", std::string(256, 'y'), "shop.example.com"));
  EXPECT_EQ(ReadBrowserCookies("http://shop.example.com/"), "");
}

TEST_F(BrowserCookiesTest, PutReplacesRemoveDeletesWhatTheBrowserDrops) {
  store.Put(Cookie("a", "1", ".example.com"));
  store.Put(Cookie("b", "2", ".example.com"));
  store.Put(Cookie("b", "2", ".example.com", "/deep"));
  store.Put(Cookie("a", "new", ".example.com"));  // keeps its place
  EXPECT_EQ(ReadBrowserCookies("http://example.com/"), "a=new; b=2");

  store.Remove("example.com", "/", "b");  // with or without the leading dot
  EXPECT_EQ(ReadBrowserCookies("http://example.com/"), "a=new");
  EXPECT_EQ(store.CookieLineFor("example.com", "/deep", false), "b=2; a=new");

  BrowserCookie gone = Cookie("a", "x", ".example.com");
  gone.expiresUnix = 1;  // an expired cookie from the browser deletes the one it names
  store.Put(gone);
  ASSERT_EQ(store.Snapshot().size(), 1u);
  EXPECT_EQ(store.Snapshot()[0].domain, ".example.com");
  EXPECT_EQ(store.Snapshot()[0].path, "/deep");

  // Cookies that would break the Cookie line are refused.
  store.Put(Cookie("x", "1\r\nX-Injected: 1", ".example.com"));
  store.Put(Cookie("y;z", "1", ".example.com"));
  store.Put(Cookie("", "1", ".example.com"));
  EXPECT_EQ(store.Snapshot().size(), 1u);
}

// A new sign-in replaces every cookie of the old one at once; the new
// cookies keep their kind (a domain cookie still covers the subdomains).
TEST(CookieStoreTest, ReplaceAllLeavesOnlyTheNewCookies) {
  CookieStore store;
  store.Put(Cookie("old", "1", ".example.com"));
  store.Put(Cookie("cookie2", "stale", ".example.com"));
  store.RecordSetCookie("member.example.com", "/", "answer=2; Path=/");
  BrowserCookie expired = Cookie("gone", "x", ".example.com");
  expired.expiresUnix = NowPlus(-60);
  store.ReplaceAll({Cookie("cookie2", "fresh", ".example.com"), Cookie("host", "h", "login.example.com"),
                    expired, Cookie("bad;name", "x", ".example.com")});
  EXPECT_EQ(store.CookieLineFor("member.example.com", "/", false), "cookie2=fresh");
  EXPECT_EQ(store.CookieLineFor("login.example.com", "/", false), "cookie2=fresh; host=h");
  EXPECT_EQ(store.Snapshot().size(), 2u);
  store.ReplaceAll({});
  EXPECT_TRUE(store.Snapshot().empty());
}

TEST(CookieStoreTest, OldestCookiesGoWhenADomainHoldsTooMany) {
  CookieStore store;
  for (int i = 0; i < 200; ++i)
    store.RecordSetCookie("flood.example.com", "/", "c" + std::to_string(i) + "=1");
  store.RecordSetCookie("shop.example.com", "/", "keep=1");
  const std::vector<BrowserCookie> all = store.Snapshot();
  ASSERT_EQ(all.size(), 181u);
  EXPECT_EQ(all.front().name, "c20");
  EXPECT_EQ(all.back().name, "keep");
}

TEST(CookieStoreTest, RecordsSetCookieLinesByTheBrowserRules) {
  struct Case {
    std::string setCookie;
    std::string host, path;  // the request that got the answer
    std::string askHost, askPath;
    bool secure;
    std::string expected;
  };
  const std::string far = "Fri, 01 Jan 2100 00:00:00 GMT";
  const std::vector<Case> cases = {
      // Without Path the cookie belongs to the request's directory.
      {"a=1", "shop.example.com", "/dir/page?q=1", "shop.example.com", "/dir/x", false, "a=1"},
      {"a=1", "shop.example.com", "/dir/page", "shop.example.com", "/other", false, ""},
      {"a=1", "example.com", "/", "www.example.com", "/", false, ""},
      {" a = 1 ; path=/p", "example.com", "/", "example.com", "/p/x", false, "a=1"},
      {"a=1; Path=/p", "example.com", "/", "example.com", "/px", false, ""},
      {"a=1; Domain=.example.com", "shop.example.com", "/", "www.example.com", "/", false, "a=1"},
      {"a=1; Domain=example.com", "example.com", "/", "www.example.com", "/", false, "a=1"},
      {"a=1; Domain=other.com", "shop.example.com", "/", "other.com", "/", false, ""},
      {"a=1; Domain=com", "example.com", "/", "example.com", "/", false, ""},
      {"a=1; Domain=0.0.1", "127.0.0.1", "/", "127.0.0.1", "/", false, ""},
      {"a=1; Secure", "example.com", "/", "example.com", "/", false, ""},
      {"a=1; Secure", "example.com", "/", "example.com", "/", true, "a=1"},
      {"a=1; Expires=Thu, 01 Jan 1970 00:00:10 GMT", "example.com", "/", "example.com", "/", false, ""},
      {"a=1; Expires=" + far, "example.com", "/", "example.com", "/", false, "a=1"},
      {"a=1; Max-Age=-1; Expires=" + far, "example.com", "/", "example.com", "/", false, ""},
      {"a=1; Max-Age=60", "example.com", "/", "example.com", "/", false, "a=1"},
      {"a=1; Max-Age=junk", "example.com", "/", "example.com", "/", false, "a=1"},
      {"a=\"q\"; HttpOnly", "example.com", "/", "example.com", "/", false, "a=\"q\""},
      {"noequals", "example.com", "/", "example.com", "/", false, ""},
      {"=v", "example.com", "/", "example.com", "/", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setCookie + " from " + c.host + c.path);
    CookieStore store;
    store.RecordSetCookie(c.host, c.path, c.setCookie);
    EXPECT_EQ(store.CookieLineFor(c.askHost, c.askPath, c.secure), c.expected);
  }
}

}  // namespace
}  // namespace autodeliver
