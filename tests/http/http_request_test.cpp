// The request engine against a local server that records the exact bytes it
// receives.
#include "http/http_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "http/browser_cookies.h"
#include "http/cookie_store.h"
#include "raw_http_server.h"

namespace autodeliver {
namespace {

using testing::Answer;
using testing::RawHttpServer;
using testing::Reply;
using namespace std::chrono_literals;

const std::string kAgentLine = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n";
const std::string kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";

class HttpRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { CookieStore::Global().Clear(); }
  void TearDown() override {
    SetHttpTimeoutForTesting(0ms);
    CookieStore::Global().Clear();
  }

  // The head every request carries up to and including Accept-Language.
  static std::string Head(const RawHttpServer& server, std::string_view requestLine,
                          std::string_view referer) {
    return std::string(requestLine) + "\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n" +
           kAgentLine + kAcceptLine + "Referer: " + std::string(referer) + "\r\nAccept-Language: zh-cn\r\n";
  }
};

TEST_F(HttpRequestTest, SendsExactlyTheFixedHeaderLinesInOrder) {
  RawHttpServer server([](const std::string&) { return Answer(200, "ok"); });
  const std::string bigBody(2 << 20, 'x');  // large enough for a client to ask for 100-continue
  struct Case {
    std::string method, path, body, cookie;
    std::string requestLine;
    std::string afterLanguage;  // expected lines after Accept-Language, blank line and body
  };
  const std::vector<Case> cases = {
      {"GET", "/list.htm?a=1&b=2", "", "", "GET /list.htm?a=1&b=2 HTTP/1.1", "\r\n"},
      {"", "/", "ignored", "", "GET / HTTP/1.1", "\r\n"},
      {"get", "/x", "", "k=v", "get /x HTTP/1.1", "Cookie: k=v\r\n\r\n"},
      // Only the emptiness test trims: the blanks around the cookie are sent.
      {"POST", "/form", "a=1&b=%D6%D0", " s=1; t=2 ", "POST /form HTTP/1.1",
       "Cookie:  s=1; t=2 \r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 12\r\n\r\n"
       "a=1&b=%D6%D0"},
      {"post", "/form", "", "", "post /form HTTP/1.1", "\r\n"},
      {"POST", "/big", bigBody, "", "POST /big HTTP/1.1",
       "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(bigBody.size()) + "\r\n\r\n" + bigBody},
      // Blanks only, ASCII and full-width, count as no cookie.
      {"GET", "/b", "", " \xA1\xA1 \xA1\xA1", "GET /b HTTP/1.1", "\r\n"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.requestLine);
    const std::string url = server.Url(c.path);
    EXPECT_EQ(HttpRequest(url, c.method, c.body, c.cookie), "ok");
    ASSERT_EQ(server.Requests().size(), i + 1);
    const std::string got = server.Requests()[i];
    const std::string expected = Head(server, c.requestLine, url) + c.afterLanguage;
    const std::size_t gotHead = got.find("\r\n\r\n") + 4, expectedHead = expected.find("\r\n\r\n") + 4;
    EXPECT_EQ(got.substr(0, gotHead), expected.substr(0, expectedHead));
    EXPECT_TRUE(got.substr(gotHead) == expected.substr(expectedHead)) << "bodies differ";
  }
}

TEST_F(HttpRequestTest, PathBytesThatMayNotStandOnTheRequestLineAreEncoded) {
  RawHttpServer server([](const std::string&) { return Answer(200, "ok"); });
  const std::string url = server.Url("/s?q=\xD6\xD0 x#part");
  ASSERT_EQ(HttpRequest(url), "ok");
  ASSERT_EQ(server.Requests().size(), 1u);
  // The Referer keeps the URL as given; the fragment never reaches the server.
  EXPECT_EQ(server.Requests()[0], Head(server, "GET /s?q=%D6%D0%20x HTTP/1.1", url) + "\r\n");
}

TEST_F(HttpRequestTest, RefusedRequestsSendNothingAndYieldEmpty) {
  RawHttpServer server([](const std::string&) { return Answer(200, "ok"); });
  struct Case {
    std::string url, method, cookie;
  };
  const std::vector<Case> cases = {
      {server.Url("/"), "PUT", ""},
      {server.Url("/"), "HEAD", ""},
      {server.Url("/"), "GET ", ""},
      {server.Url("/"), "DELETE", "a=1"},
      // A line break would smuggle header lines of its own into the request.
      {server.Url("/"), "GET", "a=1\r\nX-Injected: 1"},
      {server.Url("/a\r\nX-Injected: 1"), "GET", ""},
      // No usable host or port.
      {"http:///path", "GET", ""},
      {"http://127.0.0.1:0/", "GET", ""},
      {"http://127.0.0.1:70000/", "GET", ""},
      {"http://user@127.0.0.1:" + std::to_string(server.port()) + "/", "GET", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url + " " + c.method);
    EXPECT_EQ(HttpRequest(c.url, c.method, "", c.cookie), "");
  }
  EXPECT_TRUE(server.Requests().empty());
}

// "http://host:/path" names no port: the request goes to the scheme's
// default port instead of being refused. Needs 127.0.0.1:80 and :443.
TEST_F(HttpRequestTest, EmptyPortGoesToTheSchemesDefaultPort) {
  std::unique_ptr<RawHttpServer> http, https;
  try {
    http = std::make_unique<RawHttpServer>([](const std::string&) { return Answer(200, "port 80"); }, 80);
    https = std::make_unique<RawHttpServer>([](const std::string&) { return Answer(200, "plain"); }, 443);
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "ports 80 and 443 of 127.0.0.1 cannot be taken: " << e.what();
  }
  EXPECT_EQ(HttpRequest("http://127.0.0.1:/empty?x=1"), "port 80");
  ASSERT_EQ(http->Requests().size(), 1u);
  EXPECT_EQ(http->Requests()[0].substr(0, http->Requests()[0].find("\r\n")), "GET /empty?x=1 HTTP/1.1");

  // The https default is 443, reached with a TLS hello.
  EXPECT_EQ(HttpRequest("https://127.0.0.1:/secure"), "");
  ASSERT_TRUE(https->WaitForRequests(1, 10s));
  ASSERT_FALSE(https->Requests()[0].empty());
  EXPECT_EQ(static_cast<unsigned char>(https->Requests()[0][0]), 0x16);
  EXPECT_TRUE(http->Requests().size() == 1u) << "the https request went to port 80";
}

TEST_F(HttpRequestTest, ReturnsTheBodyWhateverTheStatus) {
  const std::string withNuls("a\0b\0\0c", 6);
  const std::string large(200000, 'z');
  RawHttpServer server([&](const std::string& request) {
    if (request.starts_with("GET /missing")) return Answer(404, "<h1>not here</h1>");
    if (request.starts_with("GET /broken")) return Answer(500, "oops");
    if (request.starts_with("GET /nul")) return Answer(200, withNuls);
    if (request.starts_with("GET /large")) return Answer(200, large);
    if (request.starts_with("GET /chunked")) {
      return Reply{
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
          "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"};
    }
    if (request.starts_with("GET /unframed"))
      return Reply{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nto the end"};
    return Answer(200, "");
  });
  EXPECT_EQ(HttpRequest(server.Url("/missing")), "<h1>not here</h1>");
  EXPECT_EQ(HttpRequest(server.Url("/broken")), "oops");
  const std::string nul = HttpRequest(server.Url("/nul"));
  EXPECT_EQ(nul.size(), 6u);
  EXPECT_EQ(nul, withNuls);
  EXPECT_EQ(HttpRequest(server.Url("/large")), large);
  EXPECT_EQ(HttpRequest(server.Url("/chunked")), "abcde");
  EXPECT_EQ(HttpRequest(server.Url("/unframed")), "to the end");
  EXPECT_EQ(HttpRequest(server.Url("/empty")), "");
}

TEST_F(HttpRequestTest, ClosedPortYieldsEmpty) {
  int port = 0;
  {
    RawHttpServer gone([](const std::string&) { return Answer(200, "never"); });
    port = gone.port();
  }
  EXPECT_EQ(HttpRequest("http://127.0.0.1:" + std::to_string(port) + "/"), "");
}

TEST_F(HttpRequestTest, ServerThatStallsGivesEmptyWithinTheBound) {
  RawHttpServer server([](const std::string& request) {
    if (request.starts_with("GET /silent")) return Reply{"", true};
    // The head and half the body, then nothing more.
    return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf.", true};
  });
  SetHttpTimeoutForTesting(400ms);
  for (const char* path : {"/silent", "/half"}) {
    SCOPED_TRACE(path);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HttpRequest(server.Url(path)), "");
    // Far above the bound: only a request that ignores it can miss this.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  }
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(HttpRequestTest, FollowsRedirectsAsBrowsersDo) {
  RawHttpServer server([](const std::string& request) {
    auto redirect = [](int status, std::string_view to) {
      return Answer(status, "moved", "Location: " + std::string(to) + "\r\n");
    };
    if (request.find(" /r301 ") != std::string::npos) return redirect(301, "/final?from=301");
    if (request.find(" /r302 ") != std::string::npos) return redirect(302, "/final?from=302");
    if (request.find(" /r303 ") != std::string::npos) return redirect(303, "/final?from=303");
    if (request.find(" /r307 ") != std::string::npos) return redirect(307, "/final?from=307");
    if (request.find(" /loop ") != std::string::npos) return redirect(302, "/loop");
    if (request.find(" /away ") != std::string::npos) return redirect(302, "ftp://127.0.0.1/x");
    if (request.find(" /elsewhere ") != std::string::npos) {
      // The same server under another host name.
      const std::size_t host = request.find("Host: 127.0.0.1:") + 16;
      return redirect(302,
                      "http://localhost:" + request.substr(host, request.find('\r', host) - host) + "/end");
    }
    return Answer(200, "final body");
  });
  struct Case {
    std::string path, method, body;
    std::string finalRequest;  // the second request's line, blank line and body
  };
  const std::vector<Case> cases = {
      {"/r302", "GET", "", "GET /final?from=302 HTTP/1.1"},
      {"/r301", "POST", "a=1", "GET /final?from=301 HTTP/1.1"},
      {"/r302", "POST", "a=1", "GET /final?from=302 HTTP/1.1"},
      {"/r303", "POST", "a=1", "GET /final?from=303 HTTP/1.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path);
    const std::size_t before = server.Requests().size();
    const std::string url = server.Url(c.path);
    EXPECT_EQ(HttpRequest(url, c.method, c.body, "sid=9"), "final body");
    ASSERT_EQ(server.Requests().size(), before + 2);
    // The Referer stays the URL the caller asked for; the cookie stays on
    // this host.
    EXPECT_EQ(server.Requests()[before + 1], Head(server, c.finalRequest, url) + "Cookie: sid=9\r\n\r\n");
  }

  // 307 repeats the post with its body.
  const std::size_t before = server.Requests().size();
  const std::string url = server.Url("/r307");
  EXPECT_EQ(HttpRequest(url, "POST", "a=1", ""), "final body");
  ASSERT_EQ(server.Requests().size(), before + 2);
  EXPECT_EQ(server.Requests()[before + 1],
            Head(server, "POST /final?from=307 HTTP/1.1", url) +
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\n\r\na=1");

  // The caller's cookie is not handed to another host.
  const std::size_t beforeElsewhere = server.Requests().size();
  EXPECT_EQ(HttpRequest(server.Url("/elsewhere"), "GET", "", "sid=9"), "final body");
  ASSERT_EQ(server.Requests().size(), beforeElsewhere + 2);
  EXPECT_EQ(server.Requests()[beforeElsewhere + 1],
            "GET /end HTTP/1.1\r\nHost: localhost:" + std::to_string(server.port()) + "\r\n" + kAgentLine +
                kAcceptLine + "Referer: " + server.Url("/elsewhere") + "\r\nAccept-Language: zh-cn\r\n\r\n");

  // Endless redirects and redirects out of http fail.
  EXPECT_EQ(HttpRequest(server.Url("/loop")), "");
  EXPECT_EQ(HttpRequest(server.Url("/away")), "");
}

TEST_F(HttpRequestTest, RequestsWithoutCookieUseAndFeedTheStore) {
  RawHttpServer server([](const std::string& request) {
    if (request.starts_with("GET /login ")) {
      return Answer(302, "",
                    "Set-Cookie: sid=abc; Path=/\r\n"
                    "Set-Cookie: lang=zh; Max-Age=3600\r\n"
                    "Set-Cookie: deep=1; Path=/user\r\n"
                    "Set-Cookie: evil=1; Domain=example.com\r\n"
                    "Location: /user/home\r\n");
    }
    if (request.starts_with("GET /logout ")) {
      return Answer(200, "bye", "Set-Cookie: sid=; Max-Age=0\r\nSet-Cookie: lang=en\r\n");
    }
    return Answer(200, "page");
  });

  const std::string loginUrl = server.Url("/login");
  EXPECT_EQ(HttpRequest(loginUrl), "page");
  ASSERT_EQ(server.Requests().size(), 2u);
  // The cookies of the redirect go with the request it leads to, the one
  // with the longer path first.
  EXPECT_EQ(server.Requests()[1],
            Head(server, "GET /user/home HTTP/1.1", loginUrl) + "Cookie: deep=1; sid=abc; lang=zh\r\n\r\n");
  EXPECT_EQ(ReadBrowserCookies(loginUrl), "sid=abc; lang=zh");

  // A request with its own cookie sends only that and records nothing.
  EXPECT_EQ(HttpRequest(server.Url("/logout"), "GET", "", "mine=1"), "bye");
  EXPECT_EQ(server.Requests()[2],
            Head(server, "GET /logout HTTP/1.1", server.Url("/logout")) + "Cookie: mine=1\r\n\r\n");
  EXPECT_EQ(ReadBrowserCookies(loginUrl), "sid=abc; lang=zh");

  // Without one the answer's cookies replace and delete the stored ones.
  EXPECT_EQ(HttpRequest(server.Url("/logout"), "GET", "", "  "), "bye");
  EXPECT_EQ(server.Requests()[3],
            Head(server, "GET /logout HTTP/1.1", server.Url("/logout")) + "Cookie: sid=abc; lang=zh\r\n\r\n");
  EXPECT_EQ(ReadBrowserCookies(loginUrl), "lang=en");
}

TEST_F(HttpRequestTest, HttpsSpeaksTlsAndFailsAgainstAPlainServer) {
  RawHttpServer server([](const std::string&) { return Answer(200, "plain"); });
  const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/secure";
  EXPECT_EQ(HttpRequest(url), "");
  ASSERT_TRUE(server.WaitForRequests(1, 10s));
  const std::string hello = server.Requests()[0];
  ASSERT_FALSE(hello.empty());
  EXPECT_EQ(static_cast<unsigned char>(hello[0]), 0x16);  // a TLS handshake record, not a request line
}

TEST_F(HttpRequestTest, ManyThreadsAtOnce) {
  // Each answer names its path and sets a cookie of the same name.
  RawHttpServer server([](const std::string& request) {
    const std::size_t start = request.find('/') + 1;
    const std::string name = request.substr(start, request.find(' ', start) - start);
    return Answer(200, "answer " + name, "Set-Cookie: " + name + "=1\r\n");
  });
  constexpr int kThreads = 8;
  constexpr int kEach = 5;
  std::atomic<int> right{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string name = "t" + std::to_string(t) + "r" + std::to_string(i);
        // Half the requests carry their own cookie and leave the store alone.
        const std::string cookie = i % 2 == 0 ? "" : "own=1";
        if (HttpRequest(server.Url("/" + name), "GET", "", cookie) == "answer " + name) ++right;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(right.load(), kThreads * kEach);
  EXPECT_EQ(server.Requests().size(), static_cast<std::size_t>(kThreads * kEach));
  // Requests 0, 2 and 4 of each thread went without a cookie.
  EXPECT_EQ(CookieStore::Global().Snapshot().size(), static_cast<std::size_t>(kThreads * 3));
}

// The peak resident memory of this process so far, in bytes (VmHWM).
std::uint64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

// A body that goes on until 1 GiB has been sent or the client hangs up, in
// pieces of 64 KiB, framed as the case says.
struct HugeBody {
  const char* name;
  std::string head;  // status line and headers, blank line included
  bool chunked = false;
};

// A body read as it arrives: the final answer's body reaches the sink whole
// and in order, with no length limit; a followed redirect's body never does.
TEST_F(HttpRequestTest, StreamedBodyReachesTheSinkWithoutTheRedirectsBodies) {
  constexpr std::size_t kLong = kDefaultAnswerLimit + (std::size_t{1} << 20);
  auto longBody = [](std::string head) {
    Reply reply{std::move(head)};
    auto sent = std::make_shared<std::size_t>(0);
    reply.more = [sent](std::string& next) {
      if (*sent >= kLong) return false;
      next.assign(std::min<std::size_t>(64 << 10, kLong - *sent), static_cast<char>('a' + *sent % 26));
      *sent += next.size();
      return true;
    };
    return reply;
  };
  RawHttpServer server([&](const std::string& request) {
    if (request.find(" /r302 ") != std::string::npos) return Answer(302, "moved", "Location: /final\r\n");
    if (request.find(" /nowhere ") != std::string::npos) return Answer(302, "stays");
    if (request.find(" /long ") != std::string::npos)
      return longBody("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    if (request.find(" /longredirect ") != std::string::npos)
      return longBody("HTTP/1.1 302 Found\r\nLocation: /final\r\nConnection: close\r\n\r\n");
    return Answer(200, "final body");
  });
  struct Case {
    std::string path;
    HttpOutcome outcome;
    std::string expected;  // the bytes the sink got (for /long: checked byte by byte instead)
  };
  const std::vector<Case> cases = {
      {"/r302", HttpOutcome::kAnswered, "final body"},
      {"/nowhere", HttpOutcome::kAnswered, "stays"},  // a redirect without a Location is the answer
      {"/long", HttpOutcome::kAnswered, ""},
      // A redirect's body is held to be dropped, so it keeps the limit.
      {"/longredirect", HttpOutcome::kTooLarge, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string got;
    std::size_t received = 0;
    bool inOrder = true;
    const HttpResult result =
        HttpRequestStreamed(server.Url(c.path), "GET", "", "", [&](std::string_view piece) {
          if (c.path != "/long") got.append(piece);
          for (char byte : piece) {
            const std::size_t pieceStart = received / (64 << 10) * (64 << 10);
            inOrder = inOrder && byte == static_cast<char>('a' + pieceStart % 26);
            ++received;
          }
        });
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_TRUE(result.body.empty());
    if (c.path == "/long") {
      EXPECT_EQ(received, kLong);
      EXPECT_TRUE(inOrder);
    } else {
      EXPECT_EQ(got, c.expected);
    }
  }
}

TEST_F(HttpRequestTest, AnswersBeyondTheLimitFailWithFlatMemory) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  constexpr std::size_t kLimit = std::size_t{1} << 20;
  const std::vector<HugeBody> cases = {
      {"until the connection closes", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"},
      {"announced length", "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kGiB) + "\r\n\r\n"},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", true},
      {"redirect with a body", "HTTP/1.1 302 Found\r\nLocation: /next\r\nConnection: close\r\n\r\n"},
  };
  for (const HugeBody& c : cases) {
    SCOPED_TRACE(c.name);
    RawHttpServer server([&](const std::string&) {
      Reply reply{c.head};
      auto sent = std::make_shared<std::uint64_t>(0);
      reply.more = [&c, sent](std::string& next) {
        if (*sent >= kGiB) return false;
        const std::string piece(64 << 10, 'x');
        next = c.chunked ? "10000\r\n" + piece + "\r\n" : piece;
        *sent += piece.size();
        return true;
      };
      return reply;
    });
    const std::uint64_t peakBefore = PeakResidentBytes();
    const HttpResult result = HttpRequestDetailed(server.Url("/huge"), "GET", "", "", kLimit);
    EXPECT_EQ(result.outcome, HttpOutcome::kTooLarge);
    EXPECT_TRUE(result.body.empty());
    // Reading stopped at the limit: one piece of the transport beyond it at
    // most, and the server could hand over no more than the socket buffers
    // hold besides.
    EXPECT_LE(result.bodyBytesReceived, kLimit + (64 << 10));
    ASSERT_TRUE(server.WaitForIdle(30s));
    EXPECT_LT(server.BytesSent(), kLimit + (std::uint64_t{32} << 20));
    EXPECT_LT(PeakResidentBytes() - std::min(peakBefore, PeakResidentBytes()), std::uint64_t{64} << 20);
    EXPECT_EQ(server.Requests().size(), 1u);  // the redirect was not followed
  }
}

TEST_F(HttpRequestTest, BodyLimitIsInclusiveAndHeadsAreBoundedToo) {
  const std::string exact(1000, 'a');
  RawHttpServer server([&](const std::string& request) {
    if (request.starts_with("GET /exact ")) return Answer(200, exact);
    if (request.starts_with("GET /over ")) return Answer(200, exact + "b");
    if (request.starts_with("GET /chunked-over ")) {
      return Reply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n3e8\r\n" +
                   exact + "\r\n1\r\nb\r\n0\r\n\r\n"};
    }
    // Header lines without end.
    Reply reply{"HTTP/1.1 200 OK\r\n"};
    reply.more = [n = 0](std::string& next) mutable {
      next = "X-Pad-" + std::to_string(n++) + ": " + std::string(1000, 'p') + "\r\n";
      return n < 100000;
    };
    return reply;
  });
  EXPECT_EQ(HttpRequest(server.Url("/exact"), "GET", "", "", exact.size()), exact);
  EXPECT_EQ(HttpRequestDetailed(server.Url("/over"), "GET", "", "", exact.size()).outcome,
            HttpOutcome::kTooLarge);
  EXPECT_EQ(HttpRequest(server.Url("/over"), "GET", "", "", exact.size()), "");
  EXPECT_EQ(HttpRequestDetailed(server.Url("/chunked-over"), "GET", "", "", exact.size()).outcome,
            HttpOutcome::kTooLarge);
  const HttpResult endlessHead = HttpRequestDetailed(server.Url("/head"), "GET", "", "", exact.size());
  EXPECT_TRUE(endlessHead.outcome == HttpOutcome::kTooLarge || endlessHead.outcome == HttpOutcome::kFailed)
      << Describe(endlessHead.outcome);
  ASSERT_TRUE(server.WaitForIdle(30s));
  EXPECT_LT(server.BytesSent(), kAnswerHeadLimit + (std::uint64_t{32} << 20));
}

TEST_F(HttpRequestTest, OutcomesTellWhyARequestFailed) {
  RawHttpServer server([](const std::string& request) {
    if (request.starts_with("GET /silent")) return Reply{"", true};
    return Answer(404, "gone");
  });
  SetHttpTimeoutForTesting(300ms);
  EXPECT_EQ(HttpRequestDetailed(server.Url("/x"), "PUT", "", "", 100).outcome, HttpOutcome::kRefused);
  EXPECT_EQ(HttpRequestDetailed(server.Url("/silent"), "GET", "", "", 100).outcome, HttpOutcome::kTimedOut);
  const HttpResult answered = HttpRequestDetailed(server.Url("/x"), "GET", "", "", 100);
  EXPECT_EQ(answered.outcome, HttpOutcome::kAnswered);
  EXPECT_EQ(answered.body, "gone");
  EXPECT_EQ(answered.bodyBytesReceived, 4u);
  int closedPort = 0;
  {
    RawHttpServer gone([](const std::string&) { return Answer(200, "never"); });
    closedPort = gone.port();
  }
  EXPECT_EQ(
      HttpRequestDetailed("http://127.0.0.1:" + std::to_string(closedPort) + "/", "GET", "", "", 100).outcome,
      HttpOutcome::kFailed);
}

}  // namespace
}  // namespace autodeliver
