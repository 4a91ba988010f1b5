// Tests of the marketplace imitation, driven over HTTP on a free loopback
// port: sign-in and sessions, the profile page, the order list read with the
// program's five order-page patterns, the shipment form, the maker's service
// answers, online cards, the state view and the state file, and the program
// itself started as a child process.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/regex.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "http/answer_text.h"
#include "sim_server.h"
#include "sim_state.h"
#include "support/temp_dir.h"
#include "text/gbk.h"

extern char** environ;

namespace autodeliver::sim {
namespace {

const std::string kBody(kConsignBody);
const std::string kFormType = "application/x-www-form-urlencoded";

// The order-page patterns exactly as the program compiles them.
struct Patterns {
  boost::regex title{"<a style=\"line-height:16px;\" target=\"_blank\" title=\"(.*?)\"", boost::regex::perl};
  boost::regex buyer{"<span class=\"ww ww:token\" ww:params=\"nick=(.*?)&amp;", boost::regex::perl};
  boost::regex number{"<span class=\"order-number\">"_gbk + "订单编号：(.*?)</span>"_gbk, boost::regex::perl};
  boost::regex quantity{"<li class=\"total\">\r\n                \t\t\t\t    \t.*?"_gbk + "× (.*?)"_gbk +
                            "\r\n                \t\t\t\t    </li>",
                        boost::regex::perl};
  boost::regex orderId{"order_id=(.*?)&", boost::regex::perl};
};

// Group 1 of every match, each search starting where the previous match ended.
std::vector<std::string> AllGroups(const std::string& text, const boost::regex& re) {
  std::vector<std::string> out;
  auto begin = text.begin();
  boost::smatch m;
  while (boost::regex_search(begin, text.end(), m, re)) {
    out.push_back(m[1].matched ? m[1].str() : std::string());
    begin = m[0].second;
  }
  return out;
}

struct ParsedOrder {
  std::string orderNumber, title, buyer, orderId;
  std::string quantity;
  bool operator==(const ParsedOrder&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ParsedOrder& o) {
  return os << o.orderNumber << "/" << GbkToUtf8Lossy(o.title) << "/" << o.quantity << "/"
            << GbkToUtf8Lossy(o.buyer) << "/" << o.orderId;
}

// Reads the page as the program does: "&mdash;" in any letter case becomes
// the GBK em dash, then the five patterns are paired by position. Fails the
// test when the patterns disagree on the number of orders.
std::vector<ParsedOrder> ParseOrderPage(std::string page) {
  for (long at = FindText(page, "&mdash;", 1, true); at > 0; at = FindText(page, "&mdash;", at + 2, true)) {
    page.replace(at - 1, 7, "\xA1\xAA");
  }
  static const Patterns p;
  auto titles = AllGroups(page, p.title), buyers = AllGroups(page, p.buyer),
       numbers = AllGroups(page, p.number), quantities = AllGroups(page, p.quantity),
       ids = AllGroups(page, p.orderId);
  EXPECT_EQ(buyers.size(), titles.size());
  EXPECT_EQ(numbers.size(), titles.size());
  EXPECT_EQ(quantities.size(), titles.size());
  EXPECT_EQ(ids.size(), titles.size());
  std::vector<ParsedOrder> out;
  for (std::size_t i = 0; i < titles.size() && i < buyers.size() && i < numbers.size() &&
                          i < quantities.size() && i < ids.size();
       ++i) {
    out.push_back({numbers[i], titles[i], buyers[i], ids[i], quantities[i]});
  }
  return out;
}

ParsedOrder Expected(const SimOrder& o) {
  return {o.orderNumber, o.title, o.buyer, o.orderId, std::to_string(o.quantity)};
}

// The Cookie header a browser would send after these Set-Cookie headers.
std::string CookieHeader(const httplib::Result& res) {
  std::string out;
  for (std::size_t i = 0; i < res->get_header_value_count("Set-Cookie"); ++i) {
    std::string c = res->get_header_value("Set-Cookie", i);
    out += (out.empty() ? "" : "; ") + c.substr(0, c.find(';'));
  }
  return out;
}

// A minimal JSON syntax check (objects, arrays, strings, numbers, literals).
class JsonChecker {
 public:
  explicit JsonChecker(const std::string& s) : s_(s) {}
  bool Valid() {
    bool ok = Value();
    Space();
    return ok && i_ == s_.size();
  }

 private:
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  bool Eat(char c) {
    Space();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool String() {
    if (!Eat('"')) return false;
    while (i_ < s_.size() && s_[i_] != '"') {
      unsigned char c = s_[i_];
      if (c < 0x20) return false;
      if (c == '\\') {
        ++i_;
        if (i_ >= s_.size() || std::string("\"\\/bfnrtu").find(s_[i_]) == std::string::npos) return false;
      }
      ++i_;
    }
    return i_ < s_.size() && s_[i_++] == '"';
  }
  bool Value() {
    Space();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '"') return String();
    if (c == '{' || c == '[') {
      char close = c == '{' ? '}' : ']';
      ++i_;
      if (Eat(close)) return true;
      do {
        if (c == '{' && (!String() || !Eat(':'))) return false;
        if (!Value()) return false;
      } while (Eat(','));
      return Eat(close);
    }
    for (std::string word : {"true", "false", "null"}) {
      if (s_.compare(i_, word.size(), word) == 0) return i_ += word.size(), true;
    }
    std::size_t start = i_;
    while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '-')) ++i_;
    return i_ > start;
  }
  const std::string& s_;
  std::size_t i_ = 0;
};

class MarketSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = std::make_unique<SimState>(
        std::vector<Account>{{"测试卖家"_gbk, "sim123"}, {"另一家店"_gbk, "other"}}, 5000, "");
    server_ = std::make_unique<SimServer>(*state_, ServerOptions{2, false});
    ASSERT_TRUE(server_->Start(0));
    ASSERT_GT(server_->port(), 0);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
    client_->set_read_timeout(10, 0);
  }
  void TearDown() override { server_->Stop(); }

  httplib::Result SignInAs(const std::string& nick, const std::string& password) {
    return client_->Post("/member/login.jhtml",
                         httplib::Params{{"TPL_username", nick}, {"TPL_password", password}});
  }
  std::string SignIn(const std::string& nickUtf8 = "测试卖家", const std::string& password = "sim123") {
    auto res = SignInAs(nickUtf8, password);
    EXPECT_TRUE(res && res->status == 302);
    return res ? CookieHeader(res) : "";
  }
  SimOrder Place(const std::string& title, int quantity, const std::string& buyer,
                 const std::string& seller = "") {
    auto res = client_->Post(
        "/_sim/place_order",
        httplib::Params{
            {"title", title}, {"quantity", std::to_string(quantity)}, {"buyer", buyer}, {"seller", seller}});
    EXPECT_TRUE(res && res->status == 200) << (res ? res->body : "no answer");
    // The order as placed, read back from the state (newest first).
    std::string sellerGbk = seller.empty() ? "测试卖家"_gbk : Utf8ToGbk(seller).value();
    auto orders = state_->PendingOrders(sellerGbk);
    return orders.empty() ? SimOrder{} : orders.front();
  }
  std::string Get(const std::string& path, const std::string& cookie) {
    httplib::Headers headers;
    if (!cookie.empty()) headers.emplace("Cookie", cookie);
    auto res = client_->Get(path.c_str(), headers);
    return res ? res->body : "";
  }
  httplib::Result Consign(const SimOrder& o, const std::string& cookie, const std::string& body = kBody,
                          const std::string& type = kFormType) {
    httplib::Headers headers;
    if (!cookie.empty()) headers.emplace("Cookie", cookie);
    std::string path = "/user/consign_dummy.htm?trade_id=" + o.orderNumber + "&order_id=" + o.orderId;
    return client_->Post(path.c_str(), headers, body, type.c_str());
  }

  std::unique_ptr<SimState> state_;
  std::unique_ptr<SimServer> server_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(MarketSimTest, SignInSetsHostCookiesAndEndsOnMyTaobao) {
  auto res = SignInAs("测试卖家", "sim123");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 302);
  std::string location = res->get_header_value("Location");
  EXPECT_NE(location.find("my_taobao"), std::string::npos);
  ASSERT_EQ(res->get_header_value_count("Set-Cookie"), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    std::string c = res->get_header_value("Set-Cookie", i);
    EXPECT_NE(c.find("Path=/"), std::string::npos) << c;
    EXPECT_EQ(c.find("Secure"), std::string::npos) << c;
    EXPECT_EQ(c.find("HttpOnly"), std::string::npos) << c;
    EXPECT_EQ(c.find("Domain"), std::string::npos) << c;
  }
  std::string cookie = CookieHeader(res);
  EXPECT_TRUE(CookieValue(cookie, "cookie2").has_value());
  EXPECT_EQ(Get(location, cookie).find("TPL_username"), std::string::npos);

  // The nick may also come as the GBK bytes themselves.
  auto gbk = SignInAs("测试卖家"_gbk, "sim123");
  ASSERT_TRUE(gbk);
  EXPECT_EQ(gbk->status, 302);
}

TEST_F(MarketSimTest, WrongCredentialsAnswerTheFormWithoutCookies) {
  const std::pair<std::string, std::string> cases[] = {
      {"测试卖家", "wrong"}, {"测试卖家", ""}, {"nobody", "sim123"}, {"", ""}, {"另一家店", "sim123"}};
  for (const auto& [nick, password] : cases) {
    auto res = SignInAs(nick, password);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << nick << "/" << password;
    EXPECT_EQ(res->get_header_value_count("Set-Cookie"), 0u);
    EXPECT_NE(res->body.find("TPL_username"), std::string::npos);
  }
}

TEST_F(MarketSimTest, PagesThatNeedASessionAnswerTheLoginForm) {
  Place("点卡10元", 1, "买家甲");
  std::string valid = SignIn();
  state_->ExpireSessions();  // `valid` now names a session that no longer exists
  const std::string cookies[] = {"", "cookie2=0123456789abcdef0123456789abcdef", valid, "other=1"};
  const std::string paths[] = {"/my_taobao.htm", "/user/baseInfoSet.htm", "/user/order_list_new.htm",
                               "/user/consign_dummy.htm?trade_id=5001&order_id=50011"};
  for (const auto& cookie : cookies) {
    for (const auto& path : paths) {
      std::string page = Get(path, cookie);
      EXPECT_NE(page.find("TPL_username"), std::string::npos) << path << " with " << cookie;
      EXPECT_TRUE(ParseOrderPage(page).empty()) << path;
      EXPECT_EQ(TextBetween(page, "亲爱的<b>"_gbk, "</b>"), "") << path;
    }
  }
}

TEST_F(MarketSimTest, ProfilePageCarriesTheSignedInNick) {
  auto res = client_->Get("/user/baseInfoSet.htm", {{"Cookie", SignIn()}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=GBK");
  EXPECT_EQ(TextBetween(res->body, "亲爱的<b>"_gbk, "</b>"), "测试卖家"_gbk);
  EXPECT_EQ(TextBetween(Get("/user/baseInfoSet.htm", SignIn("另一家店", "other")), "亲爱的<b>"_gbk, "</b>"),
            "另一家店"_gbk);
}

TEST_F(MarketSimTest, OrderPageListsExactlyTheSellersOrdersForTheFivePatterns) {
  std::string cookie = SignIn();
  EXPECT_TRUE(ParseOrderPage(Get("/user/order_list_new.htm", cookie)).empty());

  SimOrder a = Place("点卡—10元", 1, "买家甲");  // the em dash travels as "&mdash;"
  Place("别家的宝贝", 3, "买家乙", "另一家店");
  SimOrder b = Place("QQ币 100个 (自动发货)", 12, "buyer_2");
  SimOrder c = Place("游戏点卡×50", 99999, "丙");  // a "×" in the title must not disturb the quantity

  std::string raw = Get("/user/order_list_new.htm", cookie);
  EXPECT_NE(raw.find("&mdash;"), std::string::npos);
  EXPECT_NE(raw.find("\r\n"), std::string::npos);
  EXPECT_EQ(raw.find("\xA1\xAA"), std::string::npos) << "the em dash is written as an entity";
  EXPECT_EQ(raw.find("别家的宝贝"_gbk), std::string::npos);

  // Two orders per page in this fixture, newest first; the program reads page 1.
  EXPECT_EQ(ParseOrderPage(raw), (std::vector<ParsedOrder>{Expected(c), Expected(b)}));
  EXPECT_EQ(ParseOrderPage(Get("/user/order_list_new.htm?page=2", cookie)),
            std::vector<ParsedOrder>{Expected(a)});
  EXPECT_EQ(a.title, "点卡"_gbk + "\xA1\xAA" + "10元"_gbk);

  // The other seller sees only that seller's order.
  auto other = ParseOrderPage(Get("/user/order_list_new.htm", SignIn("另一家店", "other")));
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].title, "别家的宝贝"_gbk);
  EXPECT_EQ(other[0].quantity, "3");
}

TEST_F(MarketSimTest, ConsignTakesTheOrderOffTheList) {
  std::string cookie = SignIn();
  SimOrder keep = Place("点卡10元", 1, "买家甲");
  SimOrder ship = Place("点卡20元", 2, "买家乙");

  auto res = Consign(ship, cookie);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(ParseOrderPage(Get("/user/order_list_new.htm", cookie)),
            std::vector<ParsedOrder>{Expected(keep)});

  // Shipped once only: the same post again is refused.
  res = Consign(ship, cookie);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);

  std::string json = Get("/_sim/state", "");
  EXPECT_TRUE(JsonChecker(json).Valid()) << json;
  EXPECT_NE(json.find("\"consigned\": [\n    {\"orderNumber\": \"" + ship.orderNumber + "\""),
            std::string::npos);
  EXPECT_NE(json.find("\"body\": \"" + kBody + "\", \"cookie\": \"" + cookie + "\"}"), std::string::npos)
      << json;
}

TEST_F(MarketSimTest, RefusedConsignsLeaveTheOrderListed) {
  std::string cookie = SignIn();
  std::string otherSeller = SignIn("另一家店", "other");
  SimOrder order = Place("点卡10元", 1, "买家甲");
  SimOrder swapped = order;
  std::swap(swapped.orderNumber, swapped.orderId);
  SimOrder wrongId = order;
  wrongId.orderId += "9";
  SimOrder emptyId = order;
  emptyId.orderId = "";
  std::string lowerHex = kBody;
  lowerHex.replace(lowerHex.find("%C4"), 3, "%c4");

  struct Case {
    const char* what;
    SimOrder order;
    std::string cookie, body, type;
    int status;
  } cases[] = {
      {"no cookie", order, "", kBody, kFormType, 403},
      {"unknown session", order, "cookie2=0123456789abcdef0123456789abcdef", kBody, kFormType, 403},
      {"another seller's session", order, otherSeller, kBody, kFormType, 404},
      {"swapped ids", swapped, cookie, kBody, kFormType, 404},
      {"wrong order id", wrongId, cookie, kBody, kFormType, 404},
      {"empty order id", emptyId, cookie, kBody, kFormType, 404},
      {"empty body", order, cookie, "", kFormType, 400},
      {"body with a trailing newline", order, cookie, kBody + "\r\n", kFormType, 400},
      {"lower-case hex", order, cookie, lowerHex, kFormType, 400},
      {"decoded slash", order, cookie, std::string(kBody).replace(kBody.find("%2F"), 3, "/"), kFormType, 400},
      {"other content type", order, cookie, kBody, "text/plain", 400},
  };
  for (const auto& c : cases) {
    auto res = Consign(c.order, c.cookie, c.body, c.type);
    ASSERT_TRUE(res) << c.what;
    EXPECT_EQ(res->status, c.status) << c.what;
    EXPECT_EQ(ParseOrderPage(Get("/user/order_list_new.htm", cookie)),
              std::vector<ParsedOrder>{Expected(order)})
        << c.what;
  }
  // A GET of the shipment form shows the confirmation, never ships.
  EXPECT_NE(
      Get("/user/consign_dummy.htm?trade_id=" + order.orderNumber + "&order_id=" + order.orderId, cookie)
          .find("name=\"_fmw.n._0.g\""),
      std::string::npos);
  EXPECT_EQ(state_->PendingOrders("测试卖家"_gbk).size(), 1u);

  std::string json = Get("/_sim/state", "");
  EXPECT_TRUE(JsonChecker(json).Valid());
  EXPECT_NE(json.find("\"reason\": \"no session\""), std::string::npos);
  EXPECT_NE(json.find("\"reason\": \"wrong body\""), std::string::npos);
  EXPECT_NE(json.find("\"consigned\": []"), std::string::npos);
}

TEST_F(MarketSimTest, PlaceOrderRefusesWhatThePageCannotCarry) {
  struct Case {
    std::string title, quantity, buyer, seller;
  } cases[] = {
      {"", "1", "买家", ""},
      {"a\"b", "1", "买家", ""},
      {"a<b>", "1", "买家", ""},
      {"A&B", "1", "买家", ""},
      {"line\nbreak", "1", "买家", ""},
      {std::string(201, 'x'), "1", "b", ""},
      {"点卡", "0", "买家", ""},
      {"点卡", "-1", "买家", ""},
      {"点卡", "abc", "买家", ""},
      {"点卡", "100000", "买家", ""},
      {"点卡", "1", "", ""},
      {"点卡", "1", "a&amp;b", ""},
      {"点卡", "1", "买家", "无此卖家"},
      {"emoji 😀", "1", "买家", ""},
      {"\xff\xfe", "1", "买家", ""},
  };
  for (const auto& c : cases) {
    auto res = client_->Post(
        "/_sim/place_order",
        httplib::Params{
            {"title", c.title}, {"quantity", c.quantity}, {"buyer", c.buyer}, {"seller", c.seller}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400) << c.title << "/" << c.quantity << "/" << c.buyer;
    EXPECT_NE(res->body.find("\"error\""), std::string::npos);
  }
  EXPECT_TRUE(state_->PendingOrders("测试卖家"_gbk).empty());

  // Given numbers are kept, and a number is never used twice.
  auto res = client_->Get("/_sim/place_order?title=x&buyer=y&order_number=123&order_id=456");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find("\"orderNumber\": \"123\", \"orderId\": \"456\""), std::string::npos) << res->body;
  res = client_->Get("/_sim/place_order?title=x&buyer=y&order_number=123");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
}

TEST_F(MarketSimTest, ServiceAnswersCarryTheMarkers) {
  // Read as the program reads them: UTF-8 turned into GBK first.
  auto notice = [&] { return DecodeServiceAnswer(Get("/plugin.php?id=network_ver:msg", "")); };
  auto update = [&] {
    return DecodeServiceAnswer(Get("/plugin.php?id=network_ver:updata&key=abcdef&t=\\u3331\\u3332", ""));
  };
  EXPECT_EQ(TextBetween(notice(), "[check]", "[check]"), "no_msg");
  EXPECT_EQ(TextBetween(TextBetween(update(), "[msg]", "[msg]"), "ver=", "<br />"), "1.0.0.1007");

  ASSERT_TRUE(client_->Post("/_sim/service", httplib::Params{{"notice", "店铺公告\\n第二行"},
                                                             {"version", "1.0.0.1100"},
                                                             {"changes", "修复\\n新增"}}));
  EXPECT_NE(TextBetween(notice(), "[check]", "[check]"), "no_msg");
  EXPECT_EQ(TextBetween(notice(), "[msg]", "[msg]"), "店铺公告\\n第二行"_gbk);
  std::string ini = ReplaceText(TextBetween(update(), "[msg]", "[msg]"), "<br />", "\r\n");
  EXPECT_EQ(ini, "[update]\r\nver=1.0.0.1100\r\ngx=修复\\n新增\r\n"_gbk);
  EXPECT_NE(Get("/thread-51-1-1.html", "").find("1.0.0.1100"), std::string::npos);

  // Raw answers are sent byte for byte; dropping them restores the built ones.
  ASSERT_TRUE(client_->Post("/_sim/service", httplib::Params{{"raw_msg", "\xEF\xBB\xBF[check]x[check]"}}));
  EXPECT_EQ(Get("/plugin.php?id=network_ver:msg", ""), "\xEF\xBB\xBF[check]x[check]");
  ASSERT_TRUE(client_->Post("/_sim/service", httplib::Params{{"clear_raw", "1"}, {"notice", ""}}));
  EXPECT_EQ(TextBetween(notice(), "[check]", "[check]"), "no_msg");

  // The update query arrives with its key and time token as sent.
  std::string json = Get("/_sim/state", "");
  EXPECT_NE(json.find("/plugin.php?id=network_ver:updata&key=abcdef&t=\\\\u3331\\\\u3332"),
            std::string::npos);
  EXPECT_TRUE(JsonChecker(json).Valid());
}

TEST_F(MarketSimTest, OnlineCardsAndTheDownloadPage) {
  auto card = client_->Get("/card/ABC-123%20x");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->status, 200);
  EXPECT_EQ(card->body, "ABC-123 x");
  auto none = client_->Get("/card/");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 404);
  EXPECT_EQ(none->body, "");
  auto download = client_->Get("/go/chn/aliwangwang/index.php?spm=0.0.0.51.LfwhjZ");
  ASSERT_TRUE(download);
  EXPECT_EQ(download->status, 200);
}

TEST_F(MarketSimTest, StateRecordsTheRequestHeaders) {
  httplib::Headers headers{{"Cookie", "cookie2=abc; _nk_=6162"},
                           {"Referer", "http://127.0.0.1/user/order_list_new.htm"},
                           {"Accept-Language", "zh-cn"},
                           {"User-Agent", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"}};
  ASSERT_TRUE(client_->Get("/user/order_list_new.htm", headers));
  ASSERT_TRUE(client_->Get("/_sim/state"));  // not kept
  std::string json = Get("/_sim/state", "");
  EXPECT_TRUE(JsonChecker(json).Valid()) << json;
  EXPECT_NE(
      json.find("{\"method\": \"GET\", \"target\": \"/user/order_list_new.htm\", \"cookie\": \"cookie2=abc; "
                "_nk_=6162\", \"userAgent\": \"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\""),
      std::string::npos)
      << json;
  EXPECT_NE(
      json.find("\"referer\": \"http://127.0.0.1/user/order_list_new.htm\", \"acceptLanguage\": \"zh-cn\""),
      std::string::npos);
  EXPECT_EQ(json.find("\"target\": \"/_sim/"), std::string::npos);

  ASSERT_TRUE(client_->Post("/_sim/reset"));
  EXPECT_NE(Get("/_sim/state", "").find("\"requests\": []"), std::string::npos);
}

TEST(MarketSimStateFile, OrdersSessionsAndServiceSurviveARestart) {
  const testing::TempDir temp;
  const std::filesystem::path dir = temp.path();
  std::string file = (dir / "state.txt").string();
  std::vector<Account> accounts{{"测试卖家"_gbk, "sim123"}};
  std::string token;
  SimOrder shipped, waiting;
  {
    SimState state(accounts, 7000, file);
    std::string error;
    ASSERT_TRUE(state.Load(&error)) << error;
    token = state.SignIn("测试卖家"_gbk, "sim123").value();
    shipped = *state.PlaceOrder({"点卡"_gbk + "\xA1\xAA" + "10元"_gbk, "2", "买家甲"_gbk, "", "", ""}).order;
    waiting = *state.PlaceOrder({"QQ币"_gbk, "1", "乙"_gbk, "", "", ""}).order;
    ASSERT_TRUE(
        state.Consign(shipped.orderNumber, shipped.orderId, kConsignBody, "cookie2=" + token, kFormType)
            .accepted);
    ServiceAnswers service;
    service.notice = "公告";
    service.rawUpdata = "";
    state.SetService(service);
  }
  SimState again(accounts, 7000, file);
  std::string error;
  ASSERT_TRUE(again.Load(&error)) << error;
  EXPECT_EQ(again.SessionSeller("cookie2=" + token), "测试卖家"_gbk);
  auto pending = again.PendingOrders("测试卖家"_gbk);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(Expected(pending[0]), Expected(waiting));
  EXPECT_EQ(again.Service().notice, "公告");
  EXPECT_EQ(again.Service().rawUpdata, std::optional<std::string>(""));
  EXPECT_FALSE(again.Service().rawMsg.has_value());
  // The shipped order is still known: its number is not handed out again.
  auto next = again.PlaceOrder({"x", "1", "y", "", "", ""}).order;
  ASSERT_TRUE(next);
  EXPECT_NE(next->orderNumber, shipped.orderNumber);
  EXPECT_NE(next->orderNumber, waiting.orderNumber);
  EXPECT_FALSE(again.PlaceOrder({"x", "1", "y", "", shipped.orderNumber, ""}).order);

  // A damaged file is refused and leaves the state as it was.
  std::ofstream(file, std::ios::app) << "pending xzz\n";
  SimState damaged(accounts, 7000, file);
  EXPECT_FALSE(damaged.Load(&error));
  EXPECT_TRUE(damaged.PendingOrders("测试卖家"_gbk).empty());
}

// Reads one line from `fd` within `timeout`; empty on timeout or end of file.
std::string ReadLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return "";
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1) return "";
    if (c == '\n') return line;
    line += c;
  }
}

TEST(MarketSimProgram, PrintsItsPortServesAndStopsOnSigterm) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string program = MARKET_SIM_PROGRAM;
  std::vector<std::string> args{program, "--port", "0", "--account", "店主:pw"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  std::string first = ReadLine(out[0], std::chrono::seconds(20));
  ASSERT_TRUE(first.starts_with("listening 127.0.0.1:")) << first;
  int port = std::stoi(first.substr(first.find(':') + 1));
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  auto res =
      client.Post("/member/login.jhtml", httplib::Params{{"TPL_username", "店主"}, {"TPL_password", "pw"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 302);
  auto page = client.Get("/user/baseInfoSet.htm", {{"Cookie", CookieHeader(res)}});
  ASSERT_TRUE(page);
  EXPECT_EQ(TextBetween(page->body, "亲爱的<b>"_gbk, "</b>"), "店主"_gbk);

  kill(pid, SIGTERM);
  int status = 0;
  pid_t done = 0;
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       done == 0 && std::chrono::steady_clock::now() < deadline;) {
    done = waitpid(pid, &status, WNOHANG);
    if (done == 0) poll(nullptr, 0, 20);  // bounded wait for the child to exit
  }
  if (done == 0) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  EXPECT_EQ(done, pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(out[0]);
}

}  // namespace
}  // namespace autodeliver::sim
