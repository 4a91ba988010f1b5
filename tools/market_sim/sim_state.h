// The marketplace imitation's state: seller accounts, sign-in sessions, the
// orders awaiting shipment and the consigned ones, the consign attempts and
// the requests seen, and the maker's service answers.
//
// Marketplace texts (titles, nicks) are held as GBK bytes, as the pages
// carry them; the service answers are held as UTF-8, as the service sends
// them. The state can be mirrored to a small line-based file, rewritten
// after every change, so a restarted imitation keeps its orders and
// sessions.
//
// Thread safety: every public member takes the one internal mutex, so the
// HTTP server's worker threads may call them concurrently.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/json_text.h"

namespace autodeliver::sim {

struct Account {
  std::string nick;      // GBK
  std::string password;  // bytes as typed
};

struct SimOrder {
  std::string orderNumber;  // decimal digits; the trade_id of the shipment form
  std::string orderId;      // decimal digits; the order_id of the shipment form
  std::string title;        // GBK
  int quantity = 0;
  std::string buyer;   // GBK
  std::string seller;  // GBK
  std::string placedAt;
  // Set once consigned.
  std::string consignedAt;
  std::string body;    // the accepted form body, exactly as received
  std::string cookie;  // the Cookie header of the accepted post
};

// What a buyer asks for. Texts are GBK; empty optional fields are generated.
struct NewOrder {
  std::string title;
  std::string quantity;  // decimal text, 1..99999
  std::string buyer;
  std::string seller;  // empty: the first account
  std::string orderNumber;
  std::string orderId;
};

struct PlaceResult {
  std::optional<SimOrder> order;
  std::string error;  // UTF-8, set when `order` is empty
};

struct ConsignAttempt {
  std::string tradeId;
  std::string orderId;
  std::string body;
  std::string cookie;
  std::string contentType;
  bool accepted = false;
  int status = 0;
  std::string reason;  // ASCII; empty when accepted
};

struct SeenRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string cookie;
  std::string userAgent;
  std::string accept;
  std::string referer;
  std::string acceptLanguage;
  std::string contentType;
  std::string body;
};

// The maker's service answers, UTF-8.
struct ServiceAnswers {
  std::string notice;  // empty: no notice
  std::string version = "1.0.0.1007";
  std::string changes;
  std::optional<std::string> rawMsg;     // replaces the whole notice answer
  std::optional<std::string> rawUpdata;  // replaces the whole update answer
};

// The first line of a state file.
inline constexpr std::string_view kStateHeader = "autodeliver-market-sim-state 1";

// An order's fields as a "pending" or "consigned" line of the state file
// holds them after its keyword: every text as "x" and its bytes in
// lower-case hex, the quantity in decimal.
std::string OrderFields(const SimOrder& order);

// The fixed form body of a shipment without logistics.
extern const std::string_view kConsignBody;

// The value of cookie `name` in a Cookie header ("a=1; b=2"), or nullopt.
std::optional<std::string> CookieValue(std::string_view cookieHeader, std::string_view name);

// A text that may not stand in a title or nick attribute of the pages: empty,
// longer than 200 bytes, or holding '"', '<', '>', '&' or a control byte.
// Returns the reason (UTF-8) or empty when the text is fine.
std::string CheckPageText(std::string_view gbk, std::string_view what);

class SimState {
 public:
  // `accounts` must not be empty. `orderBase` + 1 is the first generated
  // order number. An empty `stateFile` keeps the state in memory only.
  SimState(std::vector<Account> accounts, std::uint64_t orderBase, std::string stateFile);

  // Reads the state file when it exists. False (with `error`) when it exists
  // but cannot be read; the state is then left as it was.
  bool Load(std::string* error);

  const std::vector<Account>& accounts() const { return accounts_; }

  // A new session token for a right nick and password, or nullopt.
  std::optional<std::string> SignIn(std::string_view nick, std::string_view password);
  // The seller signed in with the `cookie2` of this Cookie header, or nullopt.
  std::optional<std::string> SessionSeller(std::string_view cookieHeader);
  void SignOut(std::string_view token);
  // Ends every session; "remember me" tokens stay.
  void ExpireSessions();
  // A "remember me" token for the nick of a session just started.
  std::string Remember(std::string_view nick);
  // A new session token (and its nick) for the `_rm_` token of this Cookie
  // header, or nullopt when it holds none the imitation knows.
  std::optional<std::pair<std::string, std::string>> SignInRemembered(std::string_view cookieHeader);
  void Forget(std::string_view rememberToken);

  PlaceResult PlaceOrder(const NewOrder& order);
  // The seller's orders awaiting shipment, newest first.
  std::vector<SimOrder> PendingOrders(std::string_view seller);

  // The shipment form post. Returns the attempt as recorded.
  ConsignAttempt Consign(std::string_view tradeId, std::string_view orderId, std::string_view body,
                         std::string_view cookieHeader, std::string_view contentType);

  ServiceAnswers Service();
  void SetService(const ServiceAnswers& answers);

  // Keeps the request in the log (the last 1000).
  void Record(SeenRequest request);

  // Forgets the orders, consigns, attempts and the request log.
  void Reset();

  // The whole state as JSON (UTF-8), see the tool's README.
  std::string StateJson(int port);

 private:
  void SaveLocked();
  std::string NewToken();

  mutable std::mutex mutex_;
  const std::vector<Account> accounts_;
  const std::string stateFile_;
  std::uint64_t orderBase_;
  std::uint64_t nextSequence_ = 1;                               // guarded by mutex_
  std::vector<std::pair<std::string, std::string>> sessions_;    // token, nick; guarded by mutex_
  std::vector<std::pair<std::string, std::string>> remembered_;  // token, nick; guarded by mutex_
  std::vector<SimOrder> pending_;                                // placement order; guarded by mutex_
  std::vector<SimOrder> consigned_;                              // guarded by mutex_
  std::vector<ConsignAttempt> attempts_;                         // guarded by mutex_
  std::deque<SeenRequest> requests_;                             // guarded by mutex_
  ServiceAnswers service_;                                       // guarded by mutex_
  std::uint64_t tokenCounter_ = 0;                               // guarded by mutex_
};

// Local time as "YYYY-MM-DD HH:MM:SS".
std::string NowText();

}  // namespace autodeliver::sim
