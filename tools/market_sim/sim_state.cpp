#include "sim_state.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

#include "common/json_text.h"
#include "text/gbk.h"

namespace autodeliver::sim {

const std::string_view kConsignBody =
    "source=&callUrl=&action=user%2Fconsign_action&event_submit_do_dummy=anything&_fmw.n._0.g="
    "%C4%FA%BF%C9%D2%D4%D4%DA%B4%CB%CA%E4%C8%EB%B1%B8%CD%FC%D0%C5%CF%A2%A3%A8%BD%F6%C2%F4%BC%D2%D7%D4%BC%BA%"
    "BF%"
    "C9%BC%FB%A3%A9%A1%A3";

namespace {

constexpr std::size_t kRequestLogSize = 1000;
std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "x";
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::optional<std::string> Unhex(std::string_view field) {
  if (field.empty() || field[0] != 'x' || field.size() % 2 != 1) return std::nullopt;
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 1; i < field.size(); i += 2) {
    int hi = value(field[i]), lo = value(field[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string OrderFields(const SimOrder& o) {
  std::ostringstream out;
  out << Hex(o.orderNumber) << ' ' << Hex(o.orderId) << ' ' << Hex(o.title) << ' ' << o.quantity << ' '
      << Hex(o.buyer) << ' ' << Hex(o.seller) << ' ' << Hex(o.placedAt) << ' ' << Hex(o.consignedAt) << ' '
      << Hex(o.body) << ' ' << Hex(o.cookie);
  return out.str();
}

namespace {

std::optional<SimOrder> ParseOrder(const std::vector<std::string>& f) {
  if (f.size() != 11) return std::nullopt;
  SimOrder o;
  std::string* texts[] = {&o.orderNumber, &o.orderId,  &o.title,       nullptr, &o.buyer,
                          &o.seller,      &o.placedAt, &o.consignedAt, &o.body, &o.cookie};
  for (std::size_t i = 0; i < 10; ++i) {
    if (i == 3) {
      if (!AllDigits(f[4]) || f[4].size() > 6) return std::nullopt;
      o.quantity = std::stoi(f[4]);
      continue;
    }
    auto v = Unhex(f[i + 1]);
    if (!v) return std::nullopt;
    *texts[i] = *v;
  }
  return o;
}

std::string OptionalHex(const std::optional<std::string>& v) { return v ? Hex(*v) : "-"; }

std::string GbkJson(std::string_view gbk) { return JsonString(GbkToUtf8Lossy(gbk)); }

void OrderJson(std::ostringstream& out, const SimOrder& o, bool consigned) {
  out << "{\"orderNumber\": " << JsonString(o.orderNumber) << ", \"orderId\": " << JsonString(o.orderId)
      << ", \"title\": " << GbkJson(o.title) << ", \"quantity\": " << o.quantity
      << ", \"buyer\": " << GbkJson(o.buyer) << ", \"seller\": " << GbkJson(o.seller)
      << ", \"placedAt\": " << JsonString(o.placedAt);
  if (consigned) {
    out << ", \"consignedAt\": " << JsonString(o.consignedAt) << ", \"body\": " << JsonString(o.body)
        << ", \"cookie\": " << JsonString(o.cookie);
  }
  out << "}";
}

template <typename T, typename F>
void JsonList(std::ostringstream& out, const T& items, F each) {
  out << "[";
  bool first = true;
  for (const auto& item : items) {
    out << (first ? "\n    " : ",\n    ");
    first = false;
    each(item);
  }
  out << (first ? "]" : "\n  ]");
}

}  // namespace

std::string NowText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return buf;
}

std::optional<std::string> CookieValue(std::string_view header, std::string_view name) {
  std::size_t pos = 0;
  while (pos <= header.size()) {
    std::size_t end = header.find(';', pos);
    if (end == std::string_view::npos) end = header.size();
    std::string_view pair = header.substr(pos, end - pos);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    while (!pair.empty() && pair.back() == ' ') pair.remove_suffix(1);
    std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) return std::string(pair.substr(eq + 1));
    pos = end + 1;
  }
  return std::nullopt;
}

std::string CheckPageText(std::string_view gbk, std::string_view what) {
  std::string name(what);
  if (gbk.empty()) return name + " is empty";
  if (gbk.size() > 200) return name + " is longer than 200 bytes";
  for (unsigned char c : gbk) {
    if (c == '"' || c == '<' || c == '>' || c == '&') return name + " holds one of \" < > &";
    if (c < 0x20 || c == 0x7f) return name + " holds a control character";
  }
  return {};
}

SimState::SimState(std::vector<Account> accounts, std::uint64_t orderBase, std::string stateFile)
    : accounts_(std::move(accounts)), stateFile_(std::move(stateFile)), orderBase_(orderBase) {}

bool SimState::Load(std::string* error) {
  std::lock_guard lock(mutex_);
  if (stateFile_.empty()) return true;
  std::ifstream in(stateFile_, std::ios::binary);
  if (!in) return true;  // nothing saved yet
  std::string line;
  if (!std::getline(in, line) || line != kStateHeader) {
    *error = "not a state file of this tool: " + stateFile_;
    return false;
  }
  std::uint64_t next = 1;
  std::vector<std::pair<std::string, std::string>> sessions;
  std::vector<SimOrder> pending, consigned;
  ServiceAnswers service;
  int lineNumber = 1;
  while (std::getline(in, line)) {
    ++lineNumber;
    std::vector<std::string> f;
    std::istringstream words(line);
    for (std::string w; words >> w;) f.push_back(w);
    if (f.empty()) continue;
    bool ok = false;
    if (f[0] == "base" && f.size() == 3 && AllDigits(f[1]) && AllDigits(f[2])) {
      orderBase_ = std::stoull(f[1]);
      next = std::stoull(f[2]);
      ok = true;
    } else if (f[0] == "session" && f.size() == 3) {
      auto nick = Unhex(f[2]);
      if (nick) sessions.emplace_back(f[1], *nick), ok = true;
    } else if (f[0] == "pending" || f[0] == "consigned") {
      auto o = ParseOrder(f);
      if (o) (f[0] == "pending" ? pending : consigned).push_back(*o), ok = true;
    } else if (f[0] == "service" && f.size() == 6) {
      auto n = Unhex(f[1]), v = Unhex(f[2]), c = Unhex(f[3]);
      std::optional<std::string> m = f[4] == "-" ? std::nullopt : Unhex(f[4]);
      std::optional<std::string> u = f[5] == "-" ? std::nullopt : Unhex(f[5]);
      if (n && v && c && (f[4] == "-" || m) && (f[5] == "-" || u)) {
        service = {*n, *v, *c, m, u};
        ok = true;
      }
    }
    if (!ok) {
      *error = stateFile_ + ":" + std::to_string(lineNumber) + ": unreadable line";
      return false;
    }
  }
  nextSequence_ = next;
  sessions_ = std::move(sessions);
  pending_ = std::move(pending);
  consigned_ = std::move(consigned);
  service_ = std::move(service);
  return true;
}

void SimState::SaveLocked() {
  if (stateFile_.empty()) return;
  std::ostringstream out;
  out << kStateHeader << "\n";
  out << "base " << orderBase_ << ' ' << nextSequence_ << "\n";
  for (const auto& [token, nick] : sessions_) out << "session " << token << ' ' << Hex(nick) << "\n";
  for (const auto& o : pending_) out << "pending " << OrderFields(o) << "\n";
  for (const auto& o : consigned_) out << "consigned " << OrderFields(o) << "\n";
  out << "service " << Hex(service_.notice) << ' ' << Hex(service_.version) << ' ' << Hex(service_.changes)
      << ' ' << OptionalHex(service_.rawMsg) << ' ' << OptionalHex(service_.rawUpdata) << "\n";
  // Write beside the file and rename over it, so a reader never sees half a state.
  std::string temp = stateFile_ + ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file.flush()) return;
  }
  std::rename(temp.c_str(), stateFile_.c_str());
}

std::string SimState::NewToken() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(engine()),
                static_cast<unsigned long long>(engine() ^ ++tokenCounter_));
  return buf;
}

std::optional<std::string> SimState::SignIn(std::string_view nick, std::string_view password) {
  std::lock_guard lock(mutex_);
  for (const auto& account : accounts_) {
    if (account.nick == nick && account.password == password) {
      std::string token = NewToken();
      sessions_.emplace_back(token, account.nick);
      SaveLocked();
      return token;
    }
  }
  return std::nullopt;
}

std::optional<std::string> SimState::SessionSeller(std::string_view cookieHeader) {
  auto token = CookieValue(cookieHeader, "cookie2");
  if (!token || token->empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  for (const auto& [t, nick] : sessions_) {
    if (t == *token) return nick;
  }
  return std::nullopt;
}

void SimState::SignOut(std::string_view token) {
  std::lock_guard lock(mutex_);
  std::erase_if(sessions_, [&](const auto& s) { return s.first == token; });
  SaveLocked();
}

void SimState::ExpireSessions() {
  std::lock_guard lock(mutex_);
  sessions_.clear();
  SaveLocked();
}

std::string SimState::Remember(std::string_view nick) {
  std::lock_guard lock(mutex_);
  std::string token = NewToken();
  remembered_.emplace_back(token, std::string(nick));
  return token;
}

std::optional<std::pair<std::string, std::string>> SimState::SignInRemembered(std::string_view cookieHeader) {
  auto token = CookieValue(cookieHeader, "_rm_");
  if (!token || token->empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  for (const auto& [t, nick] : remembered_) {
    if (t != *token) continue;
    std::string session = NewToken();
    sessions_.emplace_back(session, nick);
    SaveLocked();
    return std::make_pair(session, nick);
  }
  return std::nullopt;
}

void SimState::Forget(std::string_view rememberToken) {
  std::lock_guard lock(mutex_);
  std::erase_if(remembered_, [&](const auto& r) { return r.first == rememberToken; });
}

PlaceResult SimState::PlaceOrder(const NewOrder& request) {
  PlaceResult result;
  if (auto why = CheckPageText(request.title, "title"); !why.empty()) return {std::nullopt, why};
  if (auto why = CheckPageText(request.buyer, "buyer"); !why.empty()) return {std::nullopt, why};
  if (!AllDigits(request.quantity) || request.quantity.size() > 5 || std::stoi(request.quantity) < 1) {
    return {std::nullopt, "quantity must be a whole number from 1 to 99999"};
  }
  for (const std::string* id : {&request.orderNumber, &request.orderId}) {
    if (!id->empty() && (!AllDigits(*id) || id->size() > 30)) {
      return {std::nullopt, "order_number and order_id must be 1 to 30 digits"};
    }
  }
  std::lock_guard lock(mutex_);
  std::string seller = request.seller.empty() ? accounts_.front().nick : request.seller;
  if (std::none_of(accounts_.begin(), accounts_.end(), [&](const Account& a) { return a.nick == seller; })) {
    return {std::nullopt, "no seller account with that nick"};
  }
  auto used = [this](const std::string& number) {
    auto same = [&](const SimOrder& o) { return o.orderNumber == number; };
    return std::any_of(pending_.begin(), pending_.end(), same) ||
           std::any_of(consigned_.begin(), consigned_.end(), same);
  };
  SimOrder order;
  if (!request.orderNumber.empty()) {
    if (used(request.orderNumber)) return {std::nullopt, "order_number is taken"};
    order.orderNumber = request.orderNumber;
  } else {
    do {
      order.orderNumber = std::to_string(orderBase_ + nextSequence_++);
    } while (used(order.orderNumber));
  }
  // The order id differs from the order number, so a post that swaps the two is caught.
  order.orderId = request.orderId.empty() ? order.orderNumber + "1" : request.orderId;
  order.title = request.title;
  order.quantity = std::stoi(request.quantity);
  order.buyer = request.buyer;
  order.seller = seller;
  order.placedAt = NowText();
  pending_.push_back(order);
  SaveLocked();
  result.order = order;
  return result;
}

std::vector<SimOrder> SimState::PendingOrders(std::string_view seller) {
  std::lock_guard lock(mutex_);
  std::vector<SimOrder> out;
  for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
    if (it->seller == seller) out.push_back(*it);
  }
  return out;
}

ConsignAttempt SimState::Consign(std::string_view tradeId, std::string_view orderId, std::string_view body,
                                 std::string_view cookieHeader, std::string_view contentType) {
  ConsignAttempt attempt;
  attempt.tradeId = tradeId;
  attempt.orderId = orderId;
  attempt.body = body;
  attempt.cookie = cookieHeader;
  attempt.contentType = contentType;
  auto seller = SessionSeller(cookieHeader);
  std::lock_guard lock(mutex_);
  auto order = std::find_if(pending_.begin(), pending_.end(), [&](const SimOrder& o) {
    return seller && o.seller == *seller && o.orderNumber == tradeId;
  });
  if (!seller) {
    attempt.status = 403, attempt.reason = "no session";
  } else if (order == pending_.end()) {
    attempt.status = 404, attempt.reason = "unknown order";
  } else if (order->orderId != orderId) {
    attempt.status = 404, attempt.reason = "wrong order id";
  } else if (!contentType.starts_with("application/x-www-form-urlencoded")) {
    attempt.status = 400, attempt.reason = "wrong content type";
  } else if (body != kConsignBody) {
    attempt.status = 400, attempt.reason = "wrong body";
  } else {
    attempt.status = 200;
    attempt.accepted = true;
    SimOrder done = *order;
    done.consignedAt = NowText();
    done.body = std::string(body);
    done.cookie = std::string(cookieHeader);
    pending_.erase(order);
    consigned_.push_back(std::move(done));
  }
  attempts_.push_back(attempt);
  SaveLocked();
  return attempt;
}

ServiceAnswers SimState::Service() {
  std::lock_guard lock(mutex_);
  return service_;
}

void SimState::SetService(const ServiceAnswers& answers) {
  std::lock_guard lock(mutex_);
  service_ = answers;
  SaveLocked();
}

void SimState::Record(SeenRequest request) {
  std::lock_guard lock(mutex_);
  requests_.push_back(std::move(request));
  while (requests_.size() > kRequestLogSize) requests_.pop_front();
}

void SimState::Reset() {
  std::lock_guard lock(mutex_);
  pending_.clear();
  consigned_.clear();
  attempts_.clear();
  requests_.clear();
  SaveLocked();
}

std::string SimState::StateJson(int port) {
  std::lock_guard lock(mutex_);
  std::ostringstream out;
  out << "{\n  \"port\": " << port << ",\n  \"sellers\": ";
  JsonList(out, accounts_, [&](const Account& a) { out << GbkJson(a.nick); });
  out << ",\n  \"orders\": ";
  std::vector<SimOrder> pageOrder(pending_.rbegin(), pending_.rend());
  JsonList(out, pageOrder, [&](const SimOrder& o) { OrderJson(out, o, false); });
  out << ",\n  \"consigned\": ";
  JsonList(out, consigned_, [&](const SimOrder& o) { OrderJson(out, o, true); });
  out << ",\n  \"consignAttempts\": ";
  JsonList(out, attempts_, [&](const ConsignAttempt& a) {
    out << "{\"tradeId\": " << JsonString(a.tradeId) << ", \"orderId\": " << JsonString(a.orderId)
        << ", \"body\": " << JsonString(a.body) << ", \"cookie\": " << JsonString(a.cookie)
        << ", \"contentType\": " << JsonString(a.contentType)
        << ", \"accepted\": " << (a.accepted ? "true" : "false") << ", \"status\": " << a.status
        << ", \"reason\": " << JsonString(a.reason) << "}";
  });
  out << ",\n  \"requests\": ";
  JsonList(out, requests_, [&](const SeenRequest& r) {
    out << "{\"method\": " << JsonString(r.method) << ", \"target\": " << JsonString(r.target)
        << ", \"cookie\": " << JsonString(r.cookie) << ", \"userAgent\": " << JsonString(r.userAgent)
        << ", \"accept\": " << JsonString(r.accept) << ", \"referer\": " << JsonString(r.referer)
        << ", \"acceptLanguage\": " << JsonString(r.acceptLanguage)
        << ", \"contentType\": " << JsonString(r.contentType) << ", \"body\": " << JsonString(r.body) << "}";
  });
  auto optional = [](const std::optional<std::string>& v) {
    return v ? JsonString(*v) : std::string("null");
  };
  out << ",\n  \"service\": {\"notice\": " << JsonString(service_.notice)
      << ", \"version\": " << JsonString(service_.version)
      << ", \"changes\": " << JsonString(service_.changes) << ", \"rawMsg\": " << optional(service_.rawMsg)
      << ", \"rawUpdata\": " << optional(service_.rawUpdata) << "}\n}\n";
  return out.str();
}

}  // namespace autodeliver::sim
