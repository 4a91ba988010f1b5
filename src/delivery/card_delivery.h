// Cards for one order: taken from the stock oldest first, online cards
// resolved, each delivered card recorded in the sent-cards table and
// exported, and the buyer's message built.
//
// An order is delivered whole or not at all in a cycle: when the stock holds
// fewer cards of the item than were bought, when the quantity is 0 or less,
// or when an online card's request fails or answers nothing, no card is
// taken and the order waits for a later cycle.
//
// The cards chosen for the order are first written to the delivery journal
// (journal.h), its write-ahead log, and flushed to the disk; then they are
// recorded and taken from the stock in one step (store/delivery_step.h),
// written but not flushed, and only then does anything of them leave the
// program (the buyer's message). The tables are flushed and the card.mdb
// rows appended when the journal is applied (card_row_export.h: at the end
// of the cycle). A card whose record cannot be written (a full disk, a
// failing disk, a refused permission) is never sent: the order waits
// (kNotWritten, with the cause), and a step cut short is
// completed with the same cards by the recovery before the next cycle
// (recovery.h).
//
// Thread safety: runs on the delivery thread; the look, the take and the
// record hold the store lock (a hold of the delivery session's tables).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/status.h"

namespace autodeliver {

class ShopContext;

class DeliveryJournal;
class DeliveryTables;

// A card as it goes to the buyer (card number after online resolution).
struct DeliveredCard {
  std::string cardNumber;
  std::string cardPassword;
};

// "您购买的 " + item name + " 卡号信息如下" + CR LF CR LF, then one line
// "卡号：" + number + " 卡密：" + password + CR LF per card, in order.
std::string DeliveryMessage(const std::string& itemName, const std::vector<DeliveredCard>& cards);

// True when the card number holds "http://" in any ASCII letter case: its
// whole text is a URL whose answer is the real card number.
bool IsOnlineCard(std::string_view cardNumber);

// The longest answer an online card's request may have: a card number is a
// line of text.
inline constexpr std::size_t kOnlineCardAnswerLimit = std::size_t{64} << 10;

// The card number behind an online card: the body of a GET of `url` without
// a cookie of its own, up to its first zero byte; empty when the request
// fails, answers nothing or answers more than kOnlineCardAnswerLimit bytes.
std::string ResolveOnlineCard(const std::string& url);

// Why an order waits for a later cycle with no card taken.
enum class WaitReason {
  kSellerNickUnreadable,  // the chat could not be addressed
  kQuantityNotPositive,   // the order's quantity is 0 or less
  kStockShort,            // the stock holds fewer cards than were bought
  kOnlineCardFailed,      // an online card's request failed or answered nothing
  kStockChanged,          // the stock changed while online cards were resolved
  kRecordFailed,          // no card could be taken and recorded
  kBuyerNickUnpassable,   // the buyer's nick cannot reach the IM client intact
  kSellerNickUnpassable,  // the seller's nick cannot reach the IM client intact
  kNotWritten,      // the cards could not be written to the disk (CardDelivery::cause says why): none is sent
  kValueTooLong,    // the sent-cards table cannot hold a value of the order whole
  kImNotAnswering,  // the IM client failed a message and does not answer yet: no card is taken
  kRetriesUsedUp,   // its undelivered message failed every automatic retry; left to the seller
};

// What the look at the order in the hold that takes its cards found (the
// session's DeliverCards below), when it found the order taken care of
// since the cycle's own look.
enum class FoundSince {
  kNothing,       // as the cycle found it
  kDelivered,     // a sent card of the order is recorded now
  kNotMonitored,  // its item is no longer a monitored item
};

// What DeliverCards did for one order.
struct CardDelivery {
  std::optional<std::string> message;               // the buyer's message; nullopt: the order waits
  std::vector<DeliveredCard> cards;                 // the cards taken and recorded, in message order
  WaitReason waitReason = WaitReason::kStockShort;  // why it waits (without a message)
  int stockLeft = 0;                                // cards of the item in stock when the order was looked at
  Status cause;  // kNotWritten: the failure of the journal or the tables (no space, an I/O error, ...)
  FoundSince foundSince = FoundSince::kNothing;  // without a message: nothing was taken for this reason
};

// Takes `quantity` cards of `itemName`, records and exports each and returns
// the message with the cards, or why the order is left alone this cycle
// (see above). The remark goes into the records only.
// The journal then holds the order as recorded: the caller writes the
// handed and consigned steps (the cycle does); an order left there is
// finished or marked for the seller by the recovery.
// The journal is applied before it returns.
CardDelivery DeliverCards(ShopContext& shop, const std::string& orderNumber, const std::string& itemName,
                          const std::string& buyerNick, const std::string& remark, int quantity = 1);

// The same in `journal`, left unapplied: the caller applies the journal
// (ApplyDeliveryJournal) once for the deliveries of a cycle.
CardDelivery DeliverCards(DeliveryJournal& journal, const std::string& orderNumber,
                          const std::string& itemName, const std::string& buyerNick,
                          const std::string& remark, int quantity);

// The same on the tables of a delivery session (store/delivery_step.h), as
// the cycle delivers an order: in the one hold that loads and records its
// cards, the order is first looked up again, and when it was recorded as
// delivered or its item is no longer monitored since the cycle's own
// checks (another program, the window), nothing is taken and `foundSince`
// says which.
CardDelivery DeliverCards(DeliveryJournal& journal, DeliveryTables& tables, const std::string& orderNumber,
                          const std::string& itemName, const std::string& buyerNick,
                          const std::string& remark, int quantity);

}  // namespace autodeliver
