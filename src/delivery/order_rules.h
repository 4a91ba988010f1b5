// Order rules: what may hold an order of a monitored item back before any
// card is taken for it. A rule only ever holds an order; it never changes
// what a delivered order gets, and with no rule set every order goes its way
// exactly as before (the cycle does not even write a file).
//
//   blacklist         an order of a listed buyer (nick compared byte for
//                     byte, as the order page gives it) is never delivered
//   purchase limit    per item, a switch to enforce the item's stored
//                     "限拍件数" (read with the text-to-integer rule; 0 or
//                     less is no limit): the order's quantity plus the cards
//                     the same buyer already received for the item (the
//                     sent-cards table) must not exceed it
//   approval          per item, a quantity from which an order waits for the
//                     seller's approval; and, for all items, a number of cards
//                     per buyer per local day beyond which it waits as well
//   delay             an order is delivered only so many minutes after the
//                     program first saw it
//   quiet hours       a span of local time of day (it may run across
//                     midnight) in which nothing is delivered
//
// The seller may approve an order held over its purchase limit or waiting
// for approval; it is then delivered by the next cycle (quiet hours still
// apply, the delay does not). A refused order is never delivered by the
// program: it stays for the seller to handle on the marketplace. A buyer on
// the blacklist cannot be approved; taking the nick off the list frees the
// buyer's orders.
//
// Storage, both in the data folder, GBK fields escaped as in
// undelivered.txt (backslash, TAB, CR, LF as \\, \t, \r, \n), lines ending
// in LF, each file rewritten whole and crash-safely (temp file, sync,
// rename):
//
//   order_rules.txt   "autodeliver order rules 1", then one line per rule:
//                       blacklist TAB <nick>
//                       item TAB <title> TAB <enforce limit 0|1> TAB <approval quantity>
//                       daily TAB <cards per buyer per day>
//                       delay TAB <minutes>
//                       quiet TAB <from minute of day> TAB <to minute of day>
//   order_holds.txt   "autodeliver order holds 1", then one line per order
//                     the rules looked at that is still listed and not
//                     delivered:
//                       <order> TAB <buyer> TAB <item> TAB <quantity> TAB
//                       <first seen, seconds since 1970> TAB <none|approved|refused> TAB
//                       <last hold reason, or empty when it was let through>
//
// Unknown lines are kept as they are when a file is rewritten.
//
// Thread safety: the file operations take the store lock (store_lock.h), so
// the window's thread and the delivery thread may use them at once. An
// OrderRuleGate belongs to the cycle that uses it.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "io/status.h"
#include "market/order_scan.h"

namespace autodeliver {

class ShopContext;

// The rules of one item, by its title.
struct ItemRule {
  bool enforceLimit = false;  // hold orders beyond the item's "限拍件数"
  int approvalQuantity = 0;   // orders of this many pieces or more wait for approval; 0: off

  bool operator==(const ItemRule&) const = default;
};

// A span of local time of day, in minutes since midnight: from `from`
// (included) to `to` (excluded); `to` before `from` runs across midnight;
// equal ends hold nothing.
struct QuietHours {
  int from = 0;
  int to = 0;

  bool Holds(int minuteOfDay) const;
  bool operator==(const QuietHours&) const = default;
};

struct OrderRules {
  std::vector<std::string> blacklist;     // GBK nicks
  std::map<std::string, ItemRule> items;  // by GBK item title
  int dailyCardsPerBuyer = 0;             // 0: off
  int delayMinutes = 0;                   // 0: off
  std::optional<QuietHours> quietHours;

  // No rule can hold an order.
  bool Empty() const;
  bool IsBlacklisted(const std::string& nick) const;
  bool operator==(const OrderRules&) const = default;
};

enum class HoldReason {
  kBlacklisted,       // "买家在黑名单中"
  kRefused,           // the seller refused it: left for the marketplace
  kOverLimit,         // over the item's purchase limit
  kAwaitingApproval,  // a large order: "待确认"
  kQuietHours,        // inside the quiet hours
  kDelayed,           // the delay since it was first seen has not run out
};

// Whether the seller may approve an order held for this reason.
bool IsApprovable(HoldReason reason);

enum class Approval { kNone, kApproved, kRefused };

// What the decision needs to know of the order besides the rules.
struct OrderFacts {
  int purchaseLimit = 0;     // the item's stored "限拍件数"
  int buyerCardsOfItem = 0;  // cards of the item the buyer received before
  int buyerCardsToday = 0;   // cards of any item the buyer received today
  std::chrono::system_clock::time_point firstSeen;
  Approval approval = Approval::kNone;
};

// The moment of the decision: the time and its local minute of the day.
struct RuleClock {
  std::chrono::system_clock::time_point now;
  int minuteOfDay = 0;
};

RuleClock SystemRuleClock();

// Why the order must wait, or nullopt when it may be delivered now. The
// reasons are tried in the order of HoldReason; the first that holds is
// given.
std::optional<HoldReason> DecideOrder(const PendingOrder& order, const OrderRules& rules,
                                      const OrderFacts& facts, const RuleClock& clock);

// An order the rules looked at (order_holds.txt).
struct HeldOrder {
  std::string orderNumber, buyerNick, itemTitle;  // GBK
  int quantity = 0;
  std::chrono::system_clock::time_point firstSeen;
  Approval approval = Approval::kNone;
  std::optional<HoldReason> reason;  // the last decision; nullopt: let through

  bool operator==(const HeldOrder&) const = default;
};

// The two files of the shop's data folder.
class OrderRuleFiles {
 public:
  explicit OrderRuleFiles(ShopContext& shop) : shop_(shop) {}

  // The rules; empty rules when the file is absent, nullopt when it cannot
  // be read or is not a rules file.
  std::optional<OrderRules> LoadRules() const;
  // Replaces the rules; the failure's cause otherwise (a rules file that
  // cannot be read, or is not one, is left alone: kCorrupt, or its error).
  Status SaveRules(const OrderRules& rules) const;

  // Adds `nick` (GBK, as the order page gives it) to the blacklist; true
  // when it is listed afterwards (also when it was before). An empty nick is
  // never listed.
  bool AddToBlacklist(const std::string& nick) const;

  // The orders the rules looked at, in the order first seen.
  std::vector<HeldOrder> LoadHolds() const;
  Status SaveHolds(const std::vector<HeldOrder>& holds) const;

  // The seller's word on an order known to the holds file; false when the
  // order is not there (it left the list) or the file cannot be written.
  bool SetApproval(const std::string& orderNumber, Approval approval) const;

  std::string RulesPath() const;
  std::string HoldsPath() const;

 private:
  ShopContext& shop_;
};

// The rules as the cycle applies them: loaded at the start of the cycle,
// asked for each new order of a monitored item, saved at its end.
class OrderRuleGate {
 public:
  using Clock = std::function<RuleClock()>;

  explicit OrderRuleGate(ShopContext& shop, Clock clock = SystemRuleClock);

  // Loads the rules and, when they need them, the holds, the items' limits
  // and the buyers' received cards.
  void BeginCycle();

  struct Verdict {
    std::optional<HoldReason> hold;  // nullopt: deliver
    bool news = false;               // held, and not for this reason at the last look
  };
  Verdict Check(const PendingOrder& order);
  // The cards just delivered for `order` count for its buyer's next orders;
  // the order itself is forgotten.
  void Delivered(const PendingOrder& order, int cards);
  // Saves what was learnt; with `listComplete`, orders no longer listed are
  // forgotten.
  void EndCycle(const std::vector<PendingOrder>& listed, bool listComplete);

 private:
  ShopContext& shop_;
  OrderRuleFiles files_;
  Clock clock_;
  OrderRules rules_;
  bool active_ = false;  // a rule is set
  bool changed_ = false;
  std::vector<HeldOrder> holds_;
  std::map<std::string, int> limits_;                                  // item title -> limit
  std::map<std::pair<std::string, std::string>, int> receivedOfItem_;  // (buyer, item) -> cards
  std::map<std::string, int> receivedToday_;                           // buyer -> cards today
};

}  // namespace autodeliver
