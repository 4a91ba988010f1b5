// One order's cards taken and recorded in one step; see delivery_step.h.
#include "store/delivery_step.h"

#include <cstddef>
#include <optional>
#include <string_view>

#include "io/file_io.h"
#include "store/shop_paths.h"
#include "store/store_index.h"
#include "store/store_lock.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

// The stock is compacted in this step when its marked records reach this
// share of the table (1/4), as a take does.
constexpr std::int32_t kCompactShare = 4;

struct Fields {
  int stockName = -1, stockNumber = -1, stockPassword = -1;
  int sent[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

bool Resolve(RecordTable& stock, RecordTable& sent, Fields* f) {
  f->stockName = stock.FieldIndex("宝贝名称"_gbk);
  f->stockNumber = stock.FieldIndex("宝贝卡号"_gbk);
  f->stockPassword = stock.FieldIndex("宝贝卡密"_gbk);
  const std::string names[8] = {"宝贝名称"_gbk, "订单编号"_gbk, "买家旺旺"_gbk, "购买数量"_gbk,
                                "已发卡号"_gbk, "已发卡密"_gbk, "已发备注"_gbk, "发货时间"_gbk};
  bool ok = f->stockName >= 0 && f->stockNumber >= 0 && f->stockPassword >= 0;
  for (int i = 0; i < 8; ++i) {
    f->sent[i] = sent.FieldIndex(names[i]);
    ok = ok && f->sent[i] >= 0;
  }
  return ok;
}

bool Equals(RecordTable& t, int field, std::string_view text) {
  const std::optional<std::string> v = t.ReadTextAt(field);
  return v && *v == text;
}

// The live sent row of `card` for the plan's order, by record number; 0
// when there is none.
std::int32_t SentRowOf(RecordTable& sent, const Fields& f, const DeliveryPlan& plan, const PlannedCard& card,
                       const std::vector<std::int32_t>& claimed) {
  const std::int32_t n = sent.RecordCount();
  for (std::int32_t i = n; i >= 1; --i) {  // newest first: a plan's rows are at the end
    if (!sent.GoTo(i) || sent.RecordId() <= 0) continue;
    if (!Equals(sent, f.sent[1], plan.orderNumber) || !Equals(sent, f.sent[4], card.sentNumber) ||
        !Equals(sent, f.sent[5], card.cardPassword))
      continue;
    bool taken = false;
    for (std::int32_t c : claimed) taken = taken || c == i;
    if (!taken) return i;
  }
  return 0;
}

// True when the stock's record `card.stockRecord` is the planned card, live.
bool StockCardLive(RecordTable& stock, const Fields& f, const DeliveryPlan& plan, const PlannedCard& card) {
  if (card.stockRecord < 1 || card.stockRecord > stock.RecordCount()) return false;
  if (!stock.GoTo(card.stockRecord) || stock.RecordId() <= 0) return false;
  return Equals(stock, f.stockName, plan.itemName) && Equals(stock, f.stockNumber, card.stockNumber) &&
         Equals(stock, f.stockPassword, card.cardPassword);
}

// True when each value of the sent row of `card` fits its field.
bool SentRowFits(RecordTable& sent, const Fields& f, const DeliveryPlan& plan, const PlannedCard& card) {
  const std::string quantity = std::to_string(plan.quantity);
  const std::string_view values[8] = {plan.itemName,   plan.orderNumber,  plan.buyerNick, quantity,
                                      card.sentNumber, card.cardPassword, plan.remark,    plan.sentAt};
  for (int i = 0; i < 8; ++i)
    if (!TextFitsField(sent.Fields()[static_cast<std::size_t>(f.sent[i])], values[i])) return false;
  return true;
}

}  // namespace

namespace {
DeliveryStepHook g_hook = nullptr;
}
void SetDeliveryStepHook(DeliveryStepHook hook) { g_hook = hook; }
void DeliveryStepBoundary(const char* step) {
  if (g_hook) g_hook(step);
}

RecordOutcome RecordPlannedCards(ShopContext& shop, const DeliveryPlan& plan, Status* cause, TableFlush flush,
                                 PlanState state) {
  const bool now = flush == TableFlush::kNow;
  Status ignored;
  Status& why = cause ? *cause : ignored;
  why = Status();
  // True when `s` is ok; else keeps the first failure as the cause.
  auto noted = [&why](Status s) {
    const bool ok = s.ok();
    if (!ok && why.ok()) why = std::move(s);
    return ok;
  };
  if (plan.cards.empty()) return RecordOutcome::kNothingWritten;
  // Other processes' imports check the stock and the sent cards: a card
  // must never be seen in neither.
  SharedStoreGuard guard(shop);
  const std::string stockPath = shop.StockTablePath();
  const std::string sentPath = shop.SentTablePath();
  RecordTable stock;
  RecordTable sent;
  stock.SetFileIo(shop.DeliveryFileIoSet());
  sent.SetFileIo(shop.DeliveryFileIoSet());
  stock.SetSoundTables(&shop.soundTables());
  sent.SetSoundTables(&shop.soundTables());
  stock.SetCutOverlongText(false);
  sent.SetCutOverlongText(false);
  Fields f;
  // Nothing could be looked at: try again later.
  if (!noted(stock.Open(stockPath)) || !noted(sent.Open(sentPath))) return RecordOutcome::kUnsure;
  if (!Resolve(stock, sent, &f)) {
    noted(Status::Corrupt(stockPath + ", " + sentPath, "a field of the delivery is missing"));
    return RecordOutcome::kUnsure;
  }
  if (!noted(stock.Hold(true)) || !noted(sent.Hold(true))) return RecordOutcome::kUnsure;

  // The store's index (store_index.h) is held against both tables now and
  // follows this step's writes, so the next lookups need no rescan. An
  // order the sent table does not hold at all has no row to look for: only
  // a plan run again after a crash scans the table for its rows.
  const bool stockIndexed = shop.Index().StockOf(stock, stockPath, f.stockName, plan.itemName) != nullptr;
  bool sentIndexed = false;
  const bool orderSeen =
      shop.Index().SentOrderExists(sent, sentPath, f.sent[1], plan.orderNumber, &sentIndexed);

  // Where each card stands now: recorded already, in stock, or neither.
  std::vector<std::int32_t> rows;
  std::vector<bool> live;
  for (const PlannedCard& card : plan.cards) {
    rows.push_back(orderSeen || !sentIndexed ? SentRowOf(sent, f, plan, card, rows) : 0);
    live.push_back(StockCardLive(stock, f, plan, card));
  }
  bool anyRecorded = false;
  for (std::int32_t row : rows) anyRecorded = anyRecorded || row != 0;
  for (std::size_t i = 0; i < plan.cards.size(); ++i) {
    if (rows[i] == 0 && !live[i] && state == PlanState::kNew)
      return anyRecorded ? RecordOutcome::kUnsettled : RecordOutcome::kNothingWritten;
  }

  // A row whose value its field cannot hold whole is never written cut:
  // the plan is refused before anything is written.
  for (std::size_t i = 0; i < plan.cards.size(); ++i) {
    if (rows[i] == 0 && !SentRowFits(sent, f, plan, plan.cards[i])) {
      noted(Status::TooLong(sentPath, "a value of the order is wider than its field"));
      return anyRecorded ? RecordOutcome::kUnsettled : RecordOutcome::kTooLong;
    }
  }

  // The rows first; a row that cannot be written undoes this step's rows.
  std::vector<std::int32_t> appended;
  for (std::size_t i = 0; i < plan.cards.size(); ++i) {
    if (rows[i] != 0) continue;
    const PlannedCard& card = plan.cards[i];
    if (!noted(sent.Append({plan.itemName, plan.orderNumber, plan.buyerNick, std::to_string(plan.quantity),
                            card.sentNumber, card.cardPassword, plan.remark, plan.sentAt}))) {
      bool undone = true;
      for (std::int32_t r : appended) undone = sent.GoTo(r) && sent.MarkDeleted() && undone;
      if (now) sent.Sync();
      shop.Index().InvalidateSent();
      return undone && !anyRecorded ? RecordOutcome::kNothingWritten : RecordOutcome::kUnsure;
    }
    if (sentIndexed) shop.Index().NoteSentAppended(sent, sentPath, plan.orderNumber);
    appended.push_back(sent.RecordNumber());
    rows[i] = sent.RecordNumber();
    DeliveryStepBoundary("row-appended");
  }
  bool ok = noted(now ? sent.Sync() : sent.Flush());
  DeliveryStepBoundary("rows-written");
  // Then the cards leave the stock, marked where they stand.
  for (std::size_t i = 0; i < plan.cards.size(); ++i) {
    if (!live[i]) continue;
    const bool marked = stock.GoTo(plan.cards[i].stockRecord)
                            ? noted(stock.MarkDeleted())
                            : noted(Status::NotFound(stockPath, "the planned card's record is gone"));
    if (!marked) {
      shop.Index().InvalidateStock();
      ok = false;
    } else if (stockIndexed) {
      shop.Index().NoteStockMarked(stock, stockPath, plan.cards[i].stockRecord);
    }
    DeliveryStepBoundary("card-marked");
  }
  ok = noted(now ? stock.Sync() : stock.Flush()) && ok;
  // The marked cards stay in the file, as a take leaves them: the records
  // behind them keep their numbers and nothing is rewritten per order. They
  // are removed together when they reach a quarter of the table, else by
  // the delivery's compaction at idle or at close (CompactStockIfWorthIt,
  // CompactStock). Once marked and flushed a card is out of the stock
  // whatever becomes of a compaction (it goes through its own flushed
  // journal).
  if (ok && now && stockIndexed) {
    const std::int32_t marked = shop.Index().StockMarked(stockPath);
    if (marked > 0 && marked * kCompactShare >= stock.RecordCount()) {
      if (stock.Purge())
        shop.Index().NoteStockPurged(stock, stockPath);
      else
        shop.Index().InvalidateStock();
    }
  }
  return ok ? RecordOutcome::kRecorded : RecordOutcome::kUnsure;
}

Status FlushDeliveryTables(ShopContext& shop) {
  SharedStoreGuard guard(shop);
  RecordTable stock;
  RecordTable sent;
  stock.SetFileIo(shop.DeliveryFileIoSet());
  sent.SetFileIo(shop.DeliveryFileIoSet());
  stock.SetSoundTables(&shop.soundTables());
  sent.SetSoundTables(&shop.soundTables());
  // The rows before the marks: a card is never out of the stock on the disk
  // while its row is not.
  Status rows = sent.Open(shop.SentTablePath());
  if (rows) rows = sent.Sync();
  Status marks = stock.Open(shop.StockTablePath());
  if (marks) marks = stock.Sync();
  return rows ? marks : rows;
}

}  // namespace autodeliver
