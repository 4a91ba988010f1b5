// The delivery events in the program's own words: one Chinese line per
// event, as the delivery log writes it, the log page shows it and the demo
// prints it. Every line about an order names the order and its buyer:
// "订单 <number>（买家 <nick>）：...".
//
// Encoding: the lines are UTF-8. They are display text only, never compared
// with or sent to the marketplace, the IM client or the tables, and every
// place that shows them (a log file read with the desktop's tools, the
// terminal, a Qt widget) wants UTF-8; the order's GBK texts are converted
// where they are worded. Control characters in page texts (a line break in a
// nick) are written as \xNN, so one event stays one line.
//
// Secrets: no card password ever appears in a line, and card numbers appear
// shortened (ShortCardNumber).
//
// Thread safety: free functions without shared state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "delivery/card_delivery.h"
#include "delivery/cycle.h"
#include "delivery/events.h"
#include "delivery/resend.h"
#include "io/status.h"
#include "market/order_scan.h"
#include "market/scan_outcome.h"

namespace autodeliver {

enum class LineLevel {
  kInfo,     // the delivery going its way
  kWarning,  // something the seller should look at (an order held back, a page not understood)
};

struct WordedLine {
  LineLevel level = LineLevel::kInfo;
  std::string text;  // UTF-8, one line, no line break

  bool operator==(const WordedLine&) const = default;
};

// A card number (GBK) shortened for display, in UTF-8: a number of more than
// six characters keeps its first four and last two ("DK10…89"); a shorter
// one keeps only its first and last character ("A…3"), and one of two
// characters or fewer shows as "…", so the whole number is never given away.
// Characters are counted as GBK characters, never split.
std::string ShortCardNumber(std::string_view cardNumber);

// A page text (GBK) for a line: UTF-8, control characters written as \xNN.
std::string LineText(std::string_view gbk);
// A UTF-8 text with its control characters as \xNN, so it stays one line.
std::string OneLine(std::string_view utf8);

// The five pattern counts of an order page that cannot be paired (UTF-8):
// "宝贝标题 3 处，买家旺旺 2 处，订单编号 3 处，购买数量 3 处，发货链接 3 处".
std::string PatternCountsText(const OrderPatternCounts& counts);

// Why an order was passed by or held back, in the program's words (UTF-8),
// for the log page's reason column and the status line's hover text.
std::string ReasonText(SkipReason reason);
std::string ReasonText(WaitReason reason);
std::string ReasonText(HoldReason reason);
// Why the cards could not be written, for the reason column: "卡密无法记录：磁盘已满".
std::string ReasonText(const Status& cause);

// A write failure in the seller's words (UTF-8): what happened, naming the
// file where it matters ("磁盘已满", "没有写入权限（/path）", "读写文件出错
// （/path，错误号 5）"); the same shorter for the status line (a file by its
// name only); a notification's title; and what the seller can do about it
// ("请腾出磁盘空间").
std::string CauseText(const Status& cause);
std::string ShortCauseText(const Status& cause);
std::string CauseSummary(const Status& cause);
std::string CauseAdvice(const Status& cause);
// The cause and the advice as one sentence for a message box or a dialog's
// failure line: "磁盘已满，请腾出磁盘空间。"
std::string CauseSentence(const Status& cause);

WordedLine WordCycleStarted();
WordedLine WordOrdersScanned(const OrderScan& scan);
WordedLine WordOrderSeen(const PendingOrder& order);
WordedLine WordOrderSkipped(const PendingOrder& order, SkipReason reason);
WordedLine WordOrderHeld(const PendingOrder& order, HoldReason reason);
WordedLine WordOrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft);
WordedLine WordOrderNotWritten(const PendingOrder& order, const Status& cause);
WordedLine WordCardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards);
WordedLine WordStockAfterDelivery(const PendingOrder& order, int cardsLeft);
WordedLine WordMessageHanded(const PendingOrder& order, bool handed);
WordedLine WordOrderConsigned(const PendingOrder& order, bool answered);
// `cause`: why a file step of a failed recovery failed; ok when not known.
WordedLine WordOrderRecovered(const PendingOrder& order, RecoveryAction action, bool ok, const Status& cause);
WordedLine WordLoginStateChanged(bool looksExpired);
WordedLine WordCycleEnded(const CycleResult& result);
// A resend (resend.h): what became of the message, then, after a message
// that went out, of the order's listing (consigned, no longer listed, or
// the list could not be read) and of its not-delivered mark.
std::vector<WordedLine> WordOrderResent(const ResendResult& result);

}  // namespace autodeliver
