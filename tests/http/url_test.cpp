#include "http/url.h"

#include <gtest/gtest.h>

namespace autodeliver {
namespace {

struct UrlCase {
  std::string url;
  std::string host;
  std::string hostWithPort;
  std::string path;
  int port;
};

TEST(Url, SplitsHostPortAndPath) {
  const UrlCase cases[] = {
      {"http://Trade.Example.com:8080/user/a.htm?x=1&y=2", "trade.example.com", "trade.example.com:8080",
       "/user/a.htm?x=1&y=2", 8080},
      {"http://example.com", "example.com", "example.com", "/", 80},
      {"https://example.com/a", "example.com", "example.com", "/a", 80},
      {"https://example.com:443/a", "example.com", "example.com:443", "/a", 443},
      // A capital scheme is not a scheme: the host is the word before ":".
      {"HTTP://Example.com/a", "http", "http:", "//Example.com/a", 0},
      {"http://example.com?q=1", "example.com?q=1", "example.com?q=1", "/", 80},
      {"http://example.com:/x", "example.com", "example.com:", "/x", 0},
      {"http://example.com:abc/x", "example.com", "example.com:abc", "/x", 0},
      {"example.com/p", "example.com", "example.com", "/p", 80},
      {"http://h:８０８１/p", "h", "h:\xA3\xB8\xA3\xB0\xA3\xB8\xA3\xB1", "/p", 8081},
      // A host that also occurs inside the scheme still gives its own path.
      {"http://tp/x", "tp", "tp", "/x", 80},
      {"http://h: 12.9/p", "h", "h: 12.9", "/p", 12},
  };
  for (const auto& c : cases) {
    std::string url = c.url;
    if (c.port == 8081) url = "http://h:\xA3\xB8\xA3\xB0\xA3\xB8\xA3\xB1/p";  // full-width digits
    EXPECT_EQ(UrlHost(url), c.host) << url;
    EXPECT_EQ(UrlHost(url, true), c.hostWithPort) << url;
    EXPECT_EQ(UrlPath(url), c.path) << url;
    EXPECT_EQ(UrlPort(url), c.port) << url;
  }
}

// Where a request goes: the written port, else the scheme's default, also
// when the colon is followed by no port at all.
TEST(Url, RequestPortFallsBackToTheSchemesDefault) {
  const struct {
    const char* url;
    bool https;
    int port;
  } cases[] = {
      {"http://h/p", false, 80},
      {"https://h/p", true, 443},
      {"http://h:/p", false, 80},
      {"https://h:/p", true, 443},
      {"http://h:", false, 80},
      {"https://h:8443/p", true, 8443},
      {"http://h:8080", false, 8080},
      // The first scheme found decides, as for the host.
      {"https://h/?next=http://x", false, 80},
      // No number after the colon, or a written 0: no port a request can use.
      {"http://h:abc/p", false, 0},
      {"http://h:0/p", false, 0},
      {"http://h: 12.9/p", false, 12},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlIsHttps(c.url), c.https) << c.url;
    EXPECT_EQ(RequestPort(c.url), c.port) << c.url;
  }
}

TEST(PercentEncode, KeepsOnlyUnreservedBytes) {
  EXPECT_EQ(PercentEncode("aZ09-_.~"), "aZ09-_.~");
  EXPECT_EQ(PercentEncode("a b&c=/"), "a%20b%26c%3D%2F");
  EXPECT_EQ(PercentEncode("\xE5\x8D\xA1"), "%E5%8D%A1");
  EXPECT_EQ(PercentEncode(""), "");
}

}  // namespace
}  // namespace autodeliver
