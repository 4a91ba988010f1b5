// Card allocation, delivery records and the buyer's message; see
// card_delivery.h.
#include "delivery/card_delivery.h"

#include <climits>
#include <cstddef>
#include <optional>

#include "delivery/card_row_export.h"
#include "delivery/journal.h"
#include "delivery/message_template.h"
#include "http/http_request.h"
#include "store/delivery_step.h"
#include "store/rows.h"
#include "store/sent_time.h"
#include "store/stock_table.h"
#include "store/store_lock.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

bool SameCard(const StockCard& a, const StockCard& b) {
  return a.itemName == b.itemName && a.cardNumber == b.cardNumber && a.cardPassword == b.cardPassword;
}

int StockFigure(std::size_t total) {
  return total > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(total);
}

}  // namespace

std::string DeliveryMessage(const std::string& itemName, const std::vector<DeliveredCard>& cards) {
  static const std::string kHead = "您购买的 "_gbk;
  static const std::string kTail = " 卡号信息如下"_gbk;
  static const std::string kNumber = "卡号："_gbk;
  static const std::string kPassword = " 卡密："_gbk;
  std::string message = kHead + itemName + kTail + "\r\n\r\n";
  for (const DeliveredCard& card : cards) {
    message += kNumber + card.cardNumber + kPassword + card.cardPassword + "\r\n";
  }
  return message;
}

bool IsOnlineCard(std::string_view cardNumber) {
  return FindText(cardNumber, "http://", 1, /*ignoreAsciiCase=*/true) > 0;
}

std::string ResolveOnlineCard(const std::string& url) {
  // A URL scheme is case-insensitive ("HTTP://" is as good as "http://"),
  // while the request engine reads only the lower-case form.
  std::string target = url;
  const std::size_t schemeEnd = target.find("://");
  if (schemeEnd != std::string::npos) target.replace(0, schemeEnd, AsciiLower(target.substr(0, schemeEnd)));
  // No cookie of our own: the process cookie store applies.
  std::string body = HttpRequest(target, "GET", {}, {}, kOnlineCardAnswerLimit);
  const std::size_t nul = body.find('\0');
  if (nul != std::string::npos) body.resize(nul);
  return body;
}

CardDelivery DeliverCards(ShopContext& shop, const std::string& orderNumber, const std::string& itemName,
                          const std::string& buyerNick, const std::string& remark, int quantity) {
  DeliveryJournal journal(shop);
  CardDelivery result = DeliverCards(journal, orderNumber, itemName, buyerNick, remark, quantity);
  if (result.message) ApplyDeliveryJournal(journal);
  return result;
}

namespace {

// True when the order is still to be delivered: no sent card of it
// recorded, its item monitored; else result->foundSince says why not.
bool StillWanted(DeliveryTables& tables, const std::string& orderNumber, const std::string& itemName,
                 CardDelivery* result) {
  if (tables.SentCardExists(orderNumber))
    result->foundSince = FoundSince::kDelivered;
  else if (!tables.ItemExists(itemName))
    result->foundSince = FoundSince::kNotMonitored;
  return result->foundSince == FoundSince::kNothing;
}

// DeliverCards on the tables of `tables`; with `recheck`, the order is
// first looked up again in its hold (see card_delivery.h).
CardDelivery Deliver(DeliveryJournal& journal, DeliveryTables& tables, bool recheck,
                     const std::string& orderNumber, const std::string& itemName,
                     const std::string& buyerNick, const std::string& remark, int quantity) {
  CardDelivery result;
  auto waits = [&result](WaitReason reason) {
    result.waitReason = reason;
    return result;
  };
  // Look at the cards the order would get, without taking them: the order is
  // delivered whole or waits for the seller to restock. Only the oldest
  // `quantity` cards are read, and the count of the item's cards beside
  // them, so the look costs the same however large the stock is.
  // The look, the take, the record and the export are made in one hold of
  // the store lock, so the window's work never comes in between; the lock
  // is held across processes too, so that an import by another program
  // never checks for duplicates while a card is between the two tables.
  // A plan of this journal left half done (a row written, its card still in
  // stock) would hand that card out again: no card is planned until the
  // recovery settles it.
  if (journal.HasUnsettledPlan()) return waits(WaitReason::kRecordFailed);
  const std::size_t wanted = quantity > 0 ? static_cast<std::size_t>(quantity) : 0;
  std::size_t total = 0;
  std::optional<DeliveryTables::Hold> guard(std::in_place, tables, true);
  // Delivered or no longer monitored since the cycle looked (the seller's
  // nick was read in between, without the lock): nothing is taken.
  if (recheck && !StillWanted(tables, orderNumber, itemName, &result)) return result;
  const std::vector<StockCard> planned = tables.LoadFirstStockCardsOf(itemName, wanted, &total);
  result.stockLeft = StockFigure(total);
  if (quantity <= 0) return waits(WaitReason::kQuantityNotPositive);
  if (total < wanted || planned.size() < wanted) return waits(WaitReason::kStockShort);

  // Resolve online cards before any card leaves the stock, so a card whose
  // request fails stays where it is. The network is used without the store
  // lock, so the window stays free meanwhile.
  bool anyOnline = false;
  for (const StockCard& card : planned) anyOnline = anyOnline || IsOnlineCard(card.cardNumber);
  if (anyOnline) guard.reset();
  std::vector<std::string> numbers;
  numbers.reserve(wanted);
  for (const StockCard& card : planned) {
    std::string number = IsOnlineCard(card.cardNumber) ? ResolveOnlineCard(card.cardNumber) : card.cardNumber;
    // An empty card number is never sent.
    if (number.empty()) return waits(WaitReason::kOnlineCardFailed);
    numbers.push_back(std::move(number));
  }

  // After the lock was let go, the stock may have changed while the cards
  // were resolved: the planned cards must still be the oldest ones, the
  // window may have removed or added cards meanwhile; else the order waits.
  std::vector<StockCard> reloaded;
  if (!guard) {
    guard.emplace(tables, true);
    if (recheck && !StillWanted(tables, orderNumber, itemName, &result)) return result;
    reloaded = tables.LoadFirstStockCardsOf(itemName, wanted, &total);
    result.stockLeft = StockFigure(total);
    if (total < wanted || reloaded.size() < wanted) return waits(WaitReason::kStockChanged);
    for (std::size_t i = 0; i < wanted; ++i) {
      if (!SameCard(reloaded[i], planned[i])) return waits(WaitReason::kStockChanged);
    }
  }
  const std::vector<StockCard>& now = reloaded.empty() ? planned : reloaded;
  // The item's message template, read in the same hold.
  const std::vector<std::string> templates = tables.SettingValues(MessageTemplateSetting());

  // The plan goes into the journal before any card leaves the stock: a
  // crash from here on completes the order with exactly these cards.
  DeliveryPlan plan;
  plan.orderNumber = orderNumber;
  plan.itemName = itemName;
  plan.buyerNick = buyerNick;
  plan.remark = remark;
  plan.quantity = quantity;
  plan.sentAt = SentAtNow();
  for (std::size_t i = 0; i < wanted; ++i)
    plan.cards.push_back({now[i].recordNumber, now[i].cardNumber, now[i].cardPassword, numbers[i]});
  // A write that fails makes the order wait with the failure's cause.
  auto notWritten = [&result](Status cause) {
    result.waitReason = WaitReason::kNotWritten;
    result.cause = std::move(cause);
    return result;
  };
  // The one flush of the order: the tables are written after it without
  // one, and flushed when the journal is applied.
  if (Status journaled = journal.Planned(plan); !journaled) return notWritten(std::move(journaled));
  Status cause;
  const RecordOutcome outcome = tables.RecordPlannedCards(plan, &cause, TableFlush::kDeferred);
  switch (outcome) {
    case RecordOutcome::kRecorded:
      break;
    case RecordOutcome::kNothingWritten:
      // Nothing was taken: the plan is dropped (if even that line cannot be
      // written, the next recovery finds the cards still in stock and tries
      // the plan again).
      journal.Closed(orderNumber);
      return cause.ok() ? waits(WaitReason::kRecordFailed) : notWritten(std::move(cause));
    case RecordOutcome::kTooLong:
      journal.Closed(orderNumber);
      return waits(WaitReason::kValueTooLong);
    case RecordOutcome::kUnsure:
    case RecordOutcome::kUnsettled:
      // Left to the recovery before the next cycle; nothing goes out now.
      return cause.ok() ? waits(WaitReason::kRecordFailed) : notWritten(std::move(cause));
  }
  // Nothing leaves the program before the journal knows the cards are
  // written; until then the recovery records them again from the plan.
  if (Status recorded = journal.Recorded(orderNumber); !recorded) return notWritten(std::move(recorded));

  std::vector<DeliveredCard> delivered;
  for (const PlannedCard& card : plan.cards) delivered.push_back({card.sentNumber, card.cardPassword});
  if (delivered.empty()) return waits(WaitReason::kRecordFailed);
  result.message = BuyerMessage(itemName, orderNumber, delivered, quantity, templates);
  result.cards = std::move(delivered);
  return result;
}

}  // namespace

CardDelivery DeliverCards(DeliveryJournal& journal, const std::string& orderNumber,
                          const std::string& itemName, const std::string& buyerNick,
                          const std::string& remark, int quantity) {
  DeliveryTables tables(journal.shop());
  return Deliver(journal, tables, false, orderNumber, itemName, buyerNick, remark, quantity);
}

CardDelivery DeliverCards(DeliveryJournal& journal, DeliveryTables& tables, const std::string& orderNumber,
                          const std::string& itemName, const std::string& buyerNick,
                          const std::string& remark, int quantity) {
  return Deliver(journal, tables, true, orderNumber, itemName, buyerNick, remark, quantity);
}

}  // namespace autodeliver
