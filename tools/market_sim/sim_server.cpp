#include "sim_server.h"

#include <httplib.h>

#include <cstdio>

#include "sim_pages.h"
#include "text/gbk.h"

namespace autodeliver::sim {

namespace {

constexpr const char* kGbkHtml = "text/html; charset=GBK";
constexpr const char* kUtf8Html = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json; charset=utf-8";

// The query parameters of the request line alone (a form body may carry
// fields of the same names, which must not count).
httplib::Params QueryParams(const httplib::Request& req) {
  httplib::Params params;
  std::size_t mark = req.target.find('?');
  if (mark != std::string::npos) httplib::detail::parse_query_text(req.target.substr(mark + 1), params);
  return params;
}

std::string Param(const httplib::Params& params, const std::string& key) {
  auto it = params.find(key);
  return it == params.end() ? std::string() : it->second;
}

std::string HexText(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

void Json(httplib::Response& res, int status, const std::string& body) {
  res.status = status;
  res.set_content(body, kJson);
}

std::string JsonError(std::string_view message) { return "{\"error\": " + JsonString(message) + "}\n"; }

// Reads the order fields of a buyer's request (UTF-8) into GBK.
std::optional<NewOrder> ReadNewOrder(const httplib::Request& req, std::string* error) {
  NewOrder order;
  struct Field {
    const char* key;
    std::string* target;
  } fields[] = {{"title", &order.title}, {"buyer", &order.buyer}, {"seller", &order.seller}};
  for (const auto& f : fields) {
    auto gbk = Utf8ToGbk(req.get_param_value(f.key));
    if (!gbk) {
      *error = std::string(f.key) + " is not UTF-8 text that GBK can hold";
      return std::nullopt;
    }
    *f.target = *gbk;
  }
  order.quantity = req.has_param("quantity") ? req.get_param_value("quantity") : "1";
  order.orderNumber = req.get_param_value("order_number");
  order.orderId = req.get_param_value("order_id");
  return order;
}

std::string OrderJson(const SimOrder& o) {
  return "{\"orderNumber\": " + JsonString(o.orderNumber) + ", \"orderId\": " + JsonString(o.orderId) +
         ", \"title\": " + JsonString(GbkToUtf8Lossy(o.title)) +
         ", \"quantity\": " + std::to_string(o.quantity) +
         ", \"buyer\": " + JsonString(GbkToUtf8Lossy(o.buyer)) +
         ", \"seller\": " + JsonString(GbkToUtf8Lossy(o.seller)) +
         ", \"placedAt\": " + JsonString(o.placedAt) + "}\n";
}

std::string ServiceJson(const ServiceAnswers& s) {
  auto optional = [](const std::optional<std::string>& v) {
    return v ? JsonString(*v) : std::string("null");
  };
  return "{\"notice\": " + JsonString(s.notice) + ", \"version\": " + JsonString(s.version) +
         ", \"changes\": " + JsonString(s.changes) + ", \"rawMsg\": " + optional(s.rawMsg) +
         ", \"rawUpdata\": " + optional(s.rawUpdata) + "}\n";
}

}  // namespace

SimServer::SimServer(SimState& state, ServerOptions options) : state_(state), options_(options) {
  if (options_.pageSize < 1) options_.pageSize = 15;
}

SimServer::~SimServer() { Stop(); }

bool SimServer::Start(int port) {
  server_ = std::make_unique<httplib::Server>();
  server_->set_payload_max_length(1 << 20);
  // A browser keeps several idle keep-alive connections, each holding a
  // worker; enough workers keep the program's own requests from queueing.
  server_->new_task_queue = [] { return new httplib::ThreadPool(32); };
  Routes();
  if (port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
  } else {
    if (!server_->bind_to_port("127.0.0.1", port)) return false;
    port_ = port;
  }
  // The socket listens from here on; the accept loop runs on its own thread.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return true;
}

void SimServer::Stop() {
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

void SimServer::Wait() {
  if (thread_.joinable()) thread_.join();
}

void SimServer::Routes() {
  httplib::Server& s = *server_;
  using Req = const httplib::Request&;
  using Res = httplib::Response&;

  // Every handler first records the request, so a client that has its answer
  // finds the request in the state.
  auto recorded = [this](std::function<void(Req, Res)> handler) {
    return [this, handler](Req req, Res res) {
      if (!req.path.starts_with("/_sim/")) {
        state_.Record({req.method, req.target, req.get_header_value("Cookie"),
                       req.get_header_value("User-Agent"), req.get_header_value("Accept"),
                       req.get_header_value("Referer"), req.get_header_value("Accept-Language"),
                       req.get_header_value("Content-Type"), req.body});
      }
      if (options_.verbose) std::fprintf(stderr, "%s %s\n", req.method.c_str(), req.target.c_str());
      handler(req, res);
    };
  };
  // The signed-in seller, or the sign-in form as the answer.
  auto seller = [this](Req req, Res res) -> std::optional<std::string> {
    auto nick = state_.SessionSeller(req.get_header_value("Cookie"));
    if (!nick) res.set_content(LoginPage("", req.method == "GET" ? req.path : ""), kGbkHtml);
    return nick;
  };

  // --- login host ---
  // The session cookies of a signed-in seller.
  auto sessionCookies = [](Res res, const std::string& token, const std::string& nick) {
    res.set_header("Set-Cookie", "cookie2=" + token + "; Path=/");
    // The nick cookie is hex, not percent-encoded: percent escapes in header
    // values are decoded by the server library, which would hide the bytes sent.
    res.set_header("Set-Cookie", "_nk_=" + HexText(nick) + "; Path=/");
  };
  // A browser that kept its "remember me" cookie is signed in again at once.
  auto loginForm = recorded([this, sessionCookies](Req req, Res res) {
    const std::string cookies = req.get_header_value("Cookie");
    if (!state_.SessionSeller(cookies)) {
      if (auto session = state_.SignInRemembered(cookies)) {
        sessionCookies(res, session->first, session->second);
        res.set_redirect("/my_taobao.htm");
        return;
      }
    }
    res.set_content(LoginPage("", ""), kGbkHtml);
  });
  s.Get("/", loginForm);
  s.Get("/member/login.jhtml", loginForm);
  s.Post("/member/login.jhtml", recorded([this, sessionCookies](Req req, Res res) {
           std::string typed = req.get_param_value("TPL_username");
           // The form sends UTF-8; a client may send the GBK nick itself.
           std::string nick = Utf8ToGbk(typed).value_or(typed);
           auto token = state_.SignIn(nick, req.get_param_value("TPL_password"));
           if (!token) {
             res.set_content(LoginPage(Gbk("账户名或密码不正确。"), req.get_param_value("redirect_url")),
                             kGbkHtml);
             return;
           }
           sessionCookies(res, *token, nick);
           if (req.get_param_value("remember_me") == "1") {
             res.set_header("Set-Cookie", "_rm_=" + state_.Remember(nick) + "; Path=/; Max-Age=2592000");
           }
           std::string next = req.get_param_value("redirect_url");
           bool local = next.starts_with("/") && !next.starts_with("//") &&
                        next.find_first_of("\r\n\\") == std::string::npos;
           res.set_redirect(local ? next : "/my_taobao.htm");
         }));
  s.Get("/member/logout.jhtml", recorded([this](Req req, Res res) {
          if (auto token = CookieValue(req.get_header_value("Cookie"), "cookie2")) state_.SignOut(*token);
          if (auto token = CookieValue(req.get_header_value("Cookie"), "_rm_")) state_.Forget(*token);
          res.set_header("Set-Cookie", "cookie2=; Path=/; Max-Age=0");
          res.set_header("Set-Cookie", "_rm_=; Path=/; Max-Age=0");
          res.set_header("Set-Cookie", "_nk_=; Path=/; Max-Age=0");
          res.set_content(LoginPage(Gbk("您已退出。"), ""), kGbkHtml);
        }));
  s.Get("/my_taobao.htm", recorded([seller](Req req, Res res) {
          if (auto nick = seller(req, res)) res.set_content(MyTaobaoPage(*nick), kGbkHtml);
        }));

  // --- member host ---
  s.Get("/user/baseInfoSet.htm", recorded([seller](Req req, Res res) {
          if (auto nick = seller(req, res)) res.set_content(ProfilePage(*nick), kGbkHtml);
        }));

  // --- logistics host ---
  s.Get("/user/order_list_new.htm", recorded([this, seller](Req req, Res res) {
          auto nick = seller(req, res);
          if (!nick) return;
          int page = 1;
          std::string p = req.get_param_value("page");
          if (!p.empty() && p.size() < 6 && p.find_first_not_of("0123456789") == std::string::npos) {
            page = std::stoi(p);
          }
          res.set_content(OrderListPage(*nick, state_.PendingOrders(*nick), page, options_.pageSize),
                          kGbkHtml);
        }));
  s.Get("/user/consign_dummy.htm", recorded([seller](Req req, Res res) {
          if (!seller(req, res)) return;
          auto query = QueryParams(req);
          res.set_content(ConsignFormPage(Param(query, "trade_id"), Param(query, "order_id")), kGbkHtml);
        }));
  s.Post("/user/consign_dummy.htm", recorded([this](Req req, Res res) {
           auto query = QueryParams(req);
           ConsignAttempt a =
               state_.Consign(Param(query, "trade_id"), Param(query, "order_id"), req.body,
                              req.get_header_value("Cookie"), req.get_header_value("Content-Type"));
           res.status = a.status;
           if (a.accepted) {
             res.set_content(
                 MessagePage(Gbk("发货成功"), Gbk("订单 ") + a.tradeId + Gbk(" 已发货（无需物流）。")),
                 kGbkHtml);
           } else if (a.status == 403) {
             res.set_content(LoginPage(Gbk("请先登录。"), ""), kGbkHtml);
           } else {
             res.set_content(MessagePage(Gbk("发货失败"), a.reason), kGbkHtml);
           }
         }));

  // --- main web host ---
  s.Get("/go/chn/aliwangwang/index.php",
        recorded([](Req, Res res) { res.set_content(DownloadPage(), kGbkHtml); }));

  // --- maker's service ---
  s.Get("/plugin.php", recorded([this](Req req, Res res) {
          std::string id = req.get_param_value("id");
          if (id == "network_ver:msg") {
            res.set_content(NoticeAnswer(state_.Service()), kUtf8Html);
          } else if (id == "network_ver:updata") {
            res.set_content(UpdateAnswer(state_.Service()), kUtf8Html);
          } else {
            res.status = 404;
            res.set_content("no such plugin", "text/plain");
          }
        }));
  s.Get("/thread-51-1-1.html",
        recorded([this](Req, Res res) { res.set_content(ForumPage(state_.Service()), kUtf8Html); }));

  // --- online cards ---
  s.Get("/card/(.*)", recorded([](Req req, Res res) {
          std::string number = req.matches[1];
          if (number.empty()) {
            res.status = 404;
            res.set_content("", "text/plain");
            return;
          }
          res.set_content(number, "text/plain");
        }));

  // --- buyer and test endpoints ---
  auto placeOrder = recorded([this](Req req, Res res) {
    std::string error;
    auto order = ReadNewOrder(req, &error);
    if (!order) return Json(res, 400, JsonError(error));
    PlaceResult placed = state_.PlaceOrder(*order);
    if (!placed.order) return Json(res, 400, JsonError(placed.error));
    Json(res, 200, OrderJson(*placed.order));
  });
  s.Get("/_sim/place_order", placeOrder);
  s.Post("/_sim/place_order", placeOrder);
  s.Get("/buyer.htm",
        recorded([this](Req, Res res) { res.set_content(BuyerPage(state_.accounts(), ""), kUtf8Html); }));
  s.Post("/buyer.htm", recorded([this](Req req, Res res) {
           std::string error;
           auto order = ReadNewOrder(req, &error);
           PlaceResult placed;
           if (order) placed = state_.PlaceOrder(*order);
           std::string message = !order          ? "下单失败：" + error
                                 : !placed.order ? "下单失败：" + placed.error
                                                 : "已下单：订单编号 " + placed.order->orderNumber;
           res.status = placed.order ? 200 : 400;
           res.set_content(BuyerPage(state_.accounts(), message), kUtf8Html);
         }));
  auto service = recorded([this](Req req, Res res) {
    ServiceAnswers answers = state_.Service();
    if (req.has_param("notice")) answers.notice = req.get_param_value("notice");
    if (req.has_param("version")) answers.version = req.get_param_value("version");
    if (req.has_param("changes")) answers.changes = req.get_param_value("changes");
    if (req.get_param_value("clear_raw") == "1") answers.rawMsg.reset(), answers.rawUpdata.reset();
    if (req.has_param("raw_msg")) answers.rawMsg = req.get_param_value("raw_msg");
    if (req.has_param("raw_updata")) answers.rawUpdata = req.get_param_value("raw_updata");
    state_.SetService(answers);
    Json(res, 200, ServiceJson(answers));
  });
  s.Get("/_sim/service", service);
  s.Post("/_sim/service", service);
  s.Get("/_sim/state", recorded([this](Req, Res res) { Json(res, 200, state_.StateJson(port_)); }));
  auto expire = recorded([this](Req, Res res) {
    state_.ExpireSessions();
    Json(res, 200, "{\"ok\": true}\n");
  });
  s.Get("/_sim/expire_sessions", expire);
  s.Post("/_sim/expire_sessions", expire);
  s.Post("/_sim/reset", recorded([this](Req, Res res) {
           state_.Reset();
           Json(res, 200, "{\"ok\": true}\n");
         }));

  // Anything else: a plain "not found" page.
  auto missing = recorded([](Req, Res res) {
    res.status = 404;
    res.set_content(MessagePage(Gbk("页面不存在"), Gbk("您访问的页面不存在。")), kGbkHtml);
  });
  s.Get(".*", missing);
  s.Post(".*", missing);
}

}  // namespace autodeliver::sim
