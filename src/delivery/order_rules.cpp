// Order rules; see order_rules.h.
#include "delivery/order_rules.h"

#include <algorithm>
#include <ctime>
#include <string_view>

#include "io/line_file.h"
#include "store/delivery_counts.h"
#include "store/escaped_fields.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/store_lock.h"
#include "text/text_to_int.h"

namespace autodeliver {
namespace {

constexpr std::string_view kRulesHeader = "autodeliver order rules 1";
constexpr std::string_view kHoldsHeader = "autodeliver order holds 1";

std::string JoinLine(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) line += '\t';
    line += EscapeField(fields[i]);
  }
  return line;
}

// The lines after the header; an absent or empty file has none. nullopt when
// the file cannot be read or has another header.
std::optional<std::vector<std::string>> ReadLines(const std::string& path, std::string_view header) {
  std::vector<std::string> lines;
  if (!ReadLineFile(path, header, &lines)) return std::nullopt;
  return lines;
}

// A count read from a file: never below 0.
int Count(const std::string& text) { return std::max(0, TextToInt(text)); }

const char* ApprovalName(Approval a) {
  switch (a) {
    case Approval::kApproved:
      return "approved";
    case Approval::kRefused:
      return "refused";
    case Approval::kNone:
      break;
  }
  return "none";
}

Approval ApprovalOf(std::string_view name) {
  if (name == "approved") return Approval::kApproved;
  if (name == "refused") return Approval::kRefused;
  return Approval::kNone;
}

constexpr std::pair<HoldReason, const char*> kReasonNames[] = {
    {HoldReason::kBlacklisted, "blacklisted"}, {HoldReason::kRefused, "refused"},
    {HoldReason::kOverLimit, "over-limit"},    {HoldReason::kAwaitingApproval, "awaiting-approval"},
    {HoldReason::kQuietHours, "quiet-hours"},  {HoldReason::kDelayed, "delayed"}};

std::string ReasonName(const std::optional<HoldReason>& reason) {
  if (!reason) return {};
  for (const auto& [r, name] : kReasonNames) {
    if (r == *reason) return name;
  }
  return {};
}

std::optional<HoldReason> ReasonOf(std::string_view name) {
  for (const auto& [r, text] : kReasonNames) {
    if (name == text) return r;
  }
  return std::nullopt;
}

bool IsRulesLine(const std::vector<std::string>& f) {
  const std::string& key = f[0];
  return (key == "blacklist" && f.size() == 2) || (key == "item" && f.size() == 4) ||
         ((key == "daily" || key == "delay") && f.size() == 2) || (key == "quiet" && f.size() == 3);
}

}  // namespace

bool QuietHours::Holds(int minuteOfDay) const {
  if (from == to) return false;
  if (from < to) return minuteOfDay >= from && minuteOfDay < to;
  return minuteOfDay >= from || minuteOfDay < to;
}

bool OrderRules::Empty() const {
  const bool itemRule = std::any_of(items.begin(), items.end(), [](const auto& entry) {
    return entry.second.enforceLimit || entry.second.approvalQuantity > 0;
  });
  const bool quiet = quietHours && quietHours->from != quietHours->to;
  return blacklist.empty() && !itemRule && dailyCardsPerBuyer <= 0 && delayMinutes <= 0 && !quiet;
}

bool OrderRules::IsBlacklisted(const std::string& nick) const {
  return std::find(blacklist.begin(), blacklist.end(), nick) != blacklist.end();
}

bool IsApprovable(HoldReason reason) {
  return reason == HoldReason::kOverLimit || reason == HoldReason::kAwaitingApproval;
}

RuleClock SystemRuleClock() {
  RuleClock clock;
  clock.now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(clock.now);
  std::tm local{};
  localtime_r(&t, &local);
  clock.minuteOfDay = local.tm_hour * 60 + local.tm_min;
  return clock;
}

std::optional<HoldReason> DecideOrder(const PendingOrder& order, const OrderRules& rules,
                                      const OrderFacts& facts, const RuleClock& clock) {
  if (rules.IsBlacklisted(order.buyerNick)) return HoldReason::kBlacklisted;
  if (facts.approval == Approval::kRefused) return HoldReason::kRefused;
  const bool approved = facts.approval == Approval::kApproved;
  const auto item = rules.items.find(order.itemTitle);
  const ItemRule itemRule = item == rules.items.end() ? ItemRule{} : item->second;
  // Sums in 64 bits: a hostile page may give a quantity near the int range.
  const long long quantity = order.quantity;
  if (!approved && itemRule.enforceLimit && facts.purchaseLimit > 0 &&
      quantity + facts.buyerCardsOfItem > facts.purchaseLimit)
    return HoldReason::kOverLimit;
  if (!approved &&
      ((itemRule.approvalQuantity > 0 && quantity >= itemRule.approvalQuantity) ||
       (rules.dailyCardsPerBuyer > 0 && quantity + facts.buyerCardsToday > rules.dailyCardsPerBuyer)))
    return HoldReason::kAwaitingApproval;
  if (rules.quietHours && rules.quietHours->Holds(clock.minuteOfDay)) return HoldReason::kQuietHours;
  if (!approved && rules.delayMinutes > 0 &&
      clock.now < facts.firstSeen + std::chrono::minutes(rules.delayMinutes))
    return HoldReason::kDelayed;
  return std::nullopt;
}

std::string OrderRuleFiles::RulesPath() const { return shop_.DataDir() + "/order_rules.txt"; }
std::string OrderRuleFiles::HoldsPath() const { return shop_.DataDir() + "/order_holds.txt"; }

std::optional<OrderRules> OrderRuleFiles::LoadRules() const {
  StoreGuard guard(shop_);
  const std::optional<std::vector<std::string>> lines = ReadLines(RulesPath(), kRulesHeader);
  if (!lines) return std::nullopt;
  OrderRules rules;
  for (const std::string& line : *lines) {
    const std::optional<std::vector<std::string>> f = SplitEscapedLine(line);
    if (!f || !IsRulesLine(*f)) continue;
    const std::string& key = (*f)[0];
    if (key == "blacklist") {
      if (!(*f)[1].empty() && !rules.IsBlacklisted((*f)[1])) rules.blacklist.push_back((*f)[1]);
    } else if (key == "item") {
      rules.items[(*f)[1]] = ItemRule{(*f)[2] == "1", Count((*f)[3])};
    } else if (key == "daily") {
      rules.dailyCardsPerBuyer = Count((*f)[1]);
    } else if (key == "delay") {
      rules.delayMinutes = Count((*f)[1]);
    } else if (key == "quiet") {
      rules.quietHours = QuietHours{std::clamp(Count((*f)[1]), 0, 1439), std::clamp(Count((*f)[2]), 0, 1439)};
    }
  }
  return rules;
}

Status OrderRuleFiles::SaveRules(const OrderRules& rules) const {
  StoreGuard guard(shop_);
  std::vector<std::string> old;
  if (Status read = ReadLineFile(RulesPath(), kRulesHeader, &old); !read)
    return read;  // not ours to overwrite
  std::vector<std::string> lines;
  for (const std::string& nick : rules.blacklist) lines.push_back(JoinLine({"blacklist", nick}));
  for (const auto& [title, rule] : rules.items) {
    if (!rule.enforceLimit && rule.approvalQuantity <= 0) continue;
    lines.push_back(
        JoinLine({"item", title, rule.enforceLimit ? "1" : "0", std::to_string(rule.approvalQuantity)}));
  }
  if (rules.dailyCardsPerBuyer > 0)
    lines.push_back(JoinLine({"daily", std::to_string(rules.dailyCardsPerBuyer)}));
  if (rules.delayMinutes > 0) lines.push_back(JoinLine({"delay", std::to_string(rules.delayMinutes)}));
  if (rules.quietHours)
    lines.push_back(
        JoinLine({"quiet", std::to_string(rules.quietHours->from), std::to_string(rules.quietHours->to)}));
  // Lines a later version wrote stay.
  for (const std::string& line : old) {
    const std::optional<std::vector<std::string>> f = SplitEscapedLine(line);
    if (!f || !IsRulesLine(*f)) lines.push_back(line);
  }
  return ReplaceLineFile(RulesPath(), kRulesHeader, lines);
}

bool OrderRuleFiles::AddToBlacklist(const std::string& nick) const {
  if (nick.empty()) return false;
  StoreGuard guard(shop_);
  std::optional<OrderRules> rules = LoadRules();
  if (!rules) return false;
  if (rules->IsBlacklisted(nick)) return true;
  rules->blacklist.push_back(nick);
  return SaveRules(*rules).ok();
}

std::vector<HeldOrder> OrderRuleFiles::LoadHolds() const {
  StoreGuard guard(shop_);
  std::vector<HeldOrder> holds;
  const std::optional<std::vector<std::string>> lines = ReadLines(HoldsPath(), kHoldsHeader);
  if (!lines) return holds;
  for (const std::string& line : *lines) {
    const std::optional<std::vector<std::string>> f = SplitEscapedLine(line);
    if (!f || f->size() != 7 || (*f)[0].empty()) continue;
    HeldOrder h;
    h.orderNumber = (*f)[0];
    h.buyerNick = (*f)[1];
    h.itemTitle = (*f)[2];
    h.quantity = TextToInt((*f)[3]);
    h.firstSeen =
        std::chrono::system_clock::from_time_t(static_cast<std::time_t>(std::atoll((*f)[4].c_str())));
    h.approval = ApprovalOf((*f)[5]);
    h.reason = ReasonOf((*f)[6]);
    holds.push_back(std::move(h));
  }
  return holds;
}

Status OrderRuleFiles::SaveHolds(const std::vector<HeldOrder>& holds) const {
  StoreGuard guard(shop_);
  std::vector<std::string> old;
  if (Status read = ReadLineFile(HoldsPath(), kHoldsHeader, &old); !read) return read;
  std::vector<std::string> lines;
  for (const HeldOrder& h : holds) {
    const long long seen = std::chrono::system_clock::to_time_t(h.firstSeen);
    lines.push_back(JoinLine({h.orderNumber, h.buyerNick, h.itemTitle, std::to_string(h.quantity),
                              std::to_string(seen), ApprovalName(h.approval), ReasonName(h.reason)}));
  }
  return ReplaceLineFile(HoldsPath(), kHoldsHeader, lines);
}

bool OrderRuleFiles::SetApproval(const std::string& orderNumber, Approval approval) const {
  StoreGuard guard(shop_);  // the read and the write as one step (the lock is recursive)
  std::vector<HeldOrder> holds = LoadHolds();
  const auto it = std::find_if(holds.begin(), holds.end(),
                               [&](const HeldOrder& h) { return h.orderNumber == orderNumber; });
  if (it == holds.end()) return false;
  it->approval = approval;
  return SaveHolds(holds).ok();
}

OrderRuleGate::OrderRuleGate(ShopContext& shop, Clock clock)
    : shop_(shop), files_(shop), clock_(std::move(clock)) {}

void OrderRuleGate::BeginCycle() {
  // A rules file that cannot be read holds nothing back: the program then
  // delivers as it would without rules, and the rules page shows the fault.
  rules_ = files_.LoadRules().value_or(OrderRules{});
  active_ = !rules_.Empty();
  changed_ = false;
  holds_.clear();
  limits_.clear();
  receivedOfItem_.clear();
  receivedToday_.clear();
  if (!active_) return;
  holds_ = files_.LoadHolds();
  std::vector<MonitoredItem> items;
  if (LoadItems(shop_, &items)) {
    for (const MonitoredItem& item : items) limits_.emplace(item.name, item.purchaseLimit);
  }
  std::vector<SentCard> sent;
  if (LoadSentCards(shop_, &sent)) {
    const auto today = LocalDate(std::chrono::system_clock::to_time_t(clock_().now));
    for (const SentCard& card : sent) {
      ++receivedOfItem_[{card.buyerNick, card.itemName}];
      if (SentAtDate(card.sentAt) == today) ++receivedToday_[card.buyerNick];
    }
  }
}

OrderRuleGate::Verdict OrderRuleGate::Check(const PendingOrder& order) {
  Verdict verdict;
  if (!active_) return verdict;
  const RuleClock now = clock_();
  auto it = std::find_if(holds_.begin(), holds_.end(),
                         [&](const HeldOrder& h) { return h.orderNumber == order.orderNumber; });
  if (it == holds_.end()) {
    HeldOrder seen{
        order.orderNumber, order.buyerNick, order.itemTitle, order.quantity, now.now, Approval::kNone, {}};
    holds_.push_back(std::move(seen));
    it = holds_.end() - 1;
    changed_ = true;
  }
  OrderFacts facts;
  const auto limit = limits_.find(order.itemTitle);
  facts.purchaseLimit = limit == limits_.end() ? 0 : limit->second;
  const auto ofItem = receivedOfItem_.find({order.buyerNick, order.itemTitle});
  facts.buyerCardsOfItem = ofItem == receivedOfItem_.end() ? 0 : ofItem->second;
  const auto today = receivedToday_.find(order.buyerNick);
  facts.buyerCardsToday = today == receivedToday_.end() ? 0 : today->second;
  facts.firstSeen = it->firstSeen;
  facts.approval = it->approval;
  verdict.hold = DecideOrder(order, rules_, facts, now);
  verdict.news = verdict.hold && verdict.hold != it->reason;
  if (it->reason != verdict.hold) {
    it->reason = verdict.hold;
    changed_ = true;
  }
  return verdict;
}

void OrderRuleGate::Delivered(const PendingOrder& order, int cards) {
  if (!active_ || cards <= 0) return;
  receivedOfItem_[{order.buyerNick, order.itemTitle}] += cards;
  receivedToday_[order.buyerNick] += cards;
  // Delivered orders are never decided again (the sent-cards table knows them).
  if (std::erase_if(holds_, [&](const HeldOrder& h) { return h.orderNumber == order.orderNumber; }) > 0)
    changed_ = true;
}

void OrderRuleGate::EndCycle(const std::vector<PendingOrder>& listed, bool listComplete) {
  if (!active_) return;
  if (listComplete) {
    const std::size_t before = holds_.size();
    std::erase_if(holds_, [&](const HeldOrder& h) {
      return std::none_of(listed.begin(), listed.end(),
                          [&](const PendingOrder& o) { return o.orderNumber == h.orderNumber; });
    });
    if (holds_.size() != before) changed_ = true;
  }
  if (!changed_) return;
  // The seller may have approved or refused an order while the cycle ran:
  // that word is kept, the rest is this cycle's.
  StoreGuard guard(shop_);
  const std::vector<HeldOrder> onDisk = files_.LoadHolds();
  for (HeldOrder& h : holds_) {
    for (const HeldOrder& d : onDisk) {
      if (d.orderNumber == h.orderNumber) h.approval = d.approval;
    }
  }
  files_.SaveHolds(holds_);
}

}  // namespace autodeliver
