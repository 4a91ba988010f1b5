// One order's cards taken and recorded in one step; see delivery_step.h.
#include "store/delivery_step.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string_view>

#include "io/file_io.h"
#include "store/shop_paths.h"
#include "store/store_index.h"
#include "store/store_lock.h"
#include "store/table_access.h"
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

namespace {

// Readies `t` for a delivery step: the delivery's file I/O, the shop's
// sound tables, and values never cut to their field.
void PrepareStepTable(ShopContext& shop, RecordTable& t) {
  t.SetFileIo(shop.DeliveryFileIoSet());
  t.SetSoundTables(&shop.soundTables());
  t.SetCutOverlongText(false);
}

// RecordPlannedCards on the stock and sent tables, open and held for
// writing by the caller under the store lock; `why` takes the first
// failure.
// `loaded` holds the stock cards read in the same hold with no write since
// (null: none): a planned card among them is known live without reading it
// again.
RecordOutcome RecordPlan(ShopContext& shop, RecordTable& stock, RecordTable& sent,
                         const std::string& stockPath, const std::string& sentPath, const DeliveryPlan& plan,
                         Status& why, TableFlush flush, PlanState state,
                         const std::vector<StockCard>* loaded = nullptr) AD_REQUIRES(shop.StoreLock()) {
  const bool now = flush == TableFlush::kNow;
  // True when `s` is ok; else keeps the first failure as the cause.
  auto noted = [&why](Status s) {
    const bool ok = s.ok();
    if (!ok && why.ok()) why = std::move(s);
    return ok;
  };
  Fields f;
  if (!Resolve(stock, sent, &f)) {
    noted(Status::Corrupt(stockPath + ", " + sentPath, "a field of the delivery is missing"));
    return RecordOutcome::kUnsure;
  }

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
    bool known = false;
    for (std::size_t k = 0; loaded && !known && k < loaded->size(); ++k) {
      const StockCard& c = (*loaded)[k];
      known = c.recordNumber == card.stockRecord && c.itemName == plan.itemName &&
              c.cardNumber == card.stockNumber && c.cardPassword == card.cardPassword;
    }
    live.push_back(known || StockCardLive(stock, f, plan, card));
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

}  // namespace

RecordOutcome RecordPlannedCards(ShopContext& shop, const DeliveryPlan& plan, Status* cause, TableFlush flush,
                                 PlanState state) {
  Status ignored;
  Status& why = cause ? *cause : ignored;
  why = Status();
  if (plan.cards.empty()) return RecordOutcome::kNothingWritten;
  // Other processes' imports check the stock and the sent cards: a card
  // must never be seen in neither.
  SharedStoreGuard guard(shop, true);
  const std::string stockPath = shop.StockTablePath();
  const std::string sentPath = shop.SentTablePath();
  RecordTable stock;
  RecordTable sent;
  PrepareStepTable(shop, stock);
  PrepareStepTable(shop, sent);
  auto noted = [&why](Status s) {
    const bool ok = s.ok();
    if (!ok && why.ok()) why = std::move(s);
    return ok;
  };
  // Nothing could be looked at (or the change stamp not raised): try again later.
  if (!noted(guard.status()) || !noted(stock.Open(stockPath)) || !noted(sent.Open(sentPath)))
    return RecordOutcome::kUnsure;
  if (!noted(stock.Hold(true)) || !noted(sent.Hold(true))) return RecordOutcome::kUnsure;
  return RecordPlan(shop, stock, sent, stockPath, sentPath, plan, why, flush, state);
}

Status FlushDeliveryTables(ShopContext& shop) {
  SharedStoreGuard guard(shop);
  RecordTable stock;
  RecordTable sent;
  PrepareStepTable(shop, stock);
  PrepareStepTable(shop, sent);
  // The rows before the marks: a card is never out of the stock on the disk
  // while its row is not.
  Status rows = sent.Open(shop.SentTablePath());
  if (rows) rows = sent.Sync();
  Status marks = stock.Open(shop.StockTablePath());
  if (marks) marks = stock.Sync();
  return rows ? marks : rows;
}

}  // namespace autodeliver

namespace autodeliver {
namespace {

// The session's calls run inside a Hold, which holds the shop's store lock
// (Use refuses them outside one); to the clang analysis they assert it for
// the rest of the function.
void InsideAHold(ShopContext& shop) AD_ASSERT_CAPABILITY(shop.StoreLock()) {}

}  // namespace

// One table of the session.
struct HeldTable {
  RecordTable table;
  std::string path;  // the path it was opened under
  int holds = 0;     // RecordTable::Hold calls inside the current hold
  bool write = false;
  // Looked at (or opened) in a hold since the last hold that found the
  // tables changed: it may be used without a look while they stay so.
  bool current = false;
};

namespace {

// Watches the data folder for table files made, removed or renamed there
// (a backup put back under a table's name, say): such a change takes no
// lock of ours, so the change stamp alone cannot tell it.
class FolderWatch {
 public:
  FolderWatch() = default;
  ~FolderWatch() { Stop(); }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  enum class Seen {
    kNothing,     // no table file changed since the last look
    kTableFiles,  // a table file changed, or the watch cannot tell (it was
                  // only just started, or its events overflowed)
    kFolderGone,  // the folder itself was removed or moved
  };

  // What changed since the last call; a watch not running is started.
  Seen Look(const std::string& dir) {
    if (fd_ < 0) {
      Start(dir);
      return Seen::kTableFiles;
    }
    Seen seen = Seen::kNothing;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      if (n <= 0) {
        Stop();
        return Seen::kTableFiles;
      }
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
          Stop();
          return Seen::kFolderGone;
        }
        if ((e->mask & IN_Q_OVERFLOW) || (e->len > 0 && IsTableFileName(e->name))) seen = Seen::kTableFiles;
      }
    }
    return seen;
  }

 private:
  // A table or its companion file: ".edb" or ".edt" in either letter case.
  static bool IsTableFileName(std::string_view name) {
    name = name.substr(0, name.find('\0'));
    if (name.size() < 4) return false;
    std::string ext(name.substr(name.size() - 4));
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return ext == ".edb" || ext == ".edt";
  }

  void Start(const std::string& dir) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    const std::uint32_t events =
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (::inotify_add_watch(fd_, dir.c_str(), events) < 0) Stop();
  }

  void Stop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd_ = -1;
};

}  // namespace

struct DeliveryTables::Impl {
  explicit Impl(ShopContext& s) : shop(s) {}
  ShopContext& shop;
  HeldTable stock, sent, items, settings;
  int depth = 0;         // Holds open; the outermost lets the tables go
  bool writing = false;  // the outermost Hold is for writing
  // The change check of the current hold: no one wrote the tables since
  // the last hold ended (the folder's change stamp and the folder itself
  // as that hold left them), so the tables looked at since the last change
  // are used without a look.
  bool unchanged = false;
  std::optional<std::uint64_t> leftStamp;  // the stamp at the last hold's end
  FolderWatch folder;
  // The stock cards read in this hold since its last stock write.
  std::vector<StockCard> loaded;
  // The settings read while the tables stayed unchanged, by name.
  std::map<std::string, std::vector<std::string>, std::less<>> settingValues;

  // At the start of the outermost hold.
  void Begin() AD_REQUIRES(shop.StoreLock()) {
    const std::optional<std::uint64_t> stamp = shop.StoreStamp();
    const FolderWatch::Seen seen = folder.Look(shop.DataDir());
    // The folder's lock file kept open may be gone with the folder.
    if (seen == FolderWatch::Seen::kFolderGone) shop.ReopenStoreLockFile();
    unchanged = seen == FolderWatch::Seen::kNothing && stamp && leftStamp && *stamp == *leftStamp;
    loaded.clear();
    if (unchanged) return;
    // A table not used in this hold keeps what it knew from an earlier one,
    // which a change since may have made wrong: each is looked at again at
    // its next use.
    for (HeldTable* h : {&stock, &sent, &items, &settings}) h->current = false;
    settingValues.clear();
  }

  // At the end of the outermost hold: the stamp as it stands now, with
  // this hold's own raise, is the one the next hold compares with.
  void End() AD_REQUIRES(shop.StoreLock()) {
    ReleaseAll();
    leftStamp = shop.StoreStamp();
    loaded.clear();
  }

  // Makes `h` (the table at `path`, through `io`) ready for use inside the
  // hold: open and kept open, and held. A read takes no table lock (the
  // folder's lock keeps every writer of ours out, and other programs only
  // read); a write takes the table's write lock, for those readers, after
  // raising the folder's change stamp. A hold that found the tables
  // unchanged looks at nothing else; otherwise each table is checked at
  // its first use (header, block 0, a purge cut short, its file). A table
  // whose file was replaced or rebuilt since it was opened is opened
  // again, once.
  Status Use(HeldTable& h, const std::string& path, bool write, FileIo* io) AD_REQUIRES(shop.StoreLock()) {
    if (depth == 0) return Status::Busy(path, "the delivery's tables are used outside a hold");
    if (h.holds > 0 && (h.write || !write)) return Status();
    if (write) {
      if (Status raised = shop.NoteStoreWrite(); !raised) return raised;
    }
    if (h.table.IsOpen() && h.path != path) h.table.Close();
    for (int attempt = 0;; ++attempt) {
      if (!h.table.IsOpen()) {
        PrepareStepTable(shop, h.table);
        h.table.SetFileIo(io);
        h.table.SetKeptOpen(true);
        if (Status opened = h.table.Open(path); !opened) return opened;
        h.path = path;
      }
      Status held = h.table.Hold(write, unchanged && h.current ? RecordTable::HoldCheck::kUnchanged
                                                               : RecordTable::HoldCheck::kUnlockedReads);
      if (held) {
        ++h.holds;
        h.write = h.write || write;
        h.current = true;
        return held;
      }
      if (attempt > 0 || h.holds > 0 || !held.IsNotFound()) return held;
      h.table.Close();
    }
  }

  void ReleaseAll() {
    for (HeldTable* h : {&stock, &sent, &items, &settings}) {
      for (; h->holds > 0; --h->holds) h->table.Release();
      h->write = false;
    }
  }
};

DeliveryTables::DeliveryTables(ShopContext& shop) : impl_(std::make_unique<Impl>(shop)) {}
DeliveryTables::~DeliveryTables() = default;

ShopContext& DeliveryTables::shop() const { return impl_->shop; }

DeliveryTables::Hold::Hold(DeliveryTables& tables, bool forWriting)
    : guard_(tables.impl_->shop), tables_(tables) {
  Impl& s = *tables_.impl_;
  if (s.depth++ > 0) return;
  s.writing = forWriting;
  InsideAHold(s.shop);
  s.Begin();
}
DeliveryTables::Hold::~Hold() {
  Impl& s = *tables_.impl_;
  InsideAHold(s.shop);
  if (--s.depth == 0) s.End();
}

bool DeliveryTables::SentCardExists(std::string_view orderNumber) {
  InsideAHold(impl_->shop);
  HeldTable& h = impl_->sent;
  const std::string path = impl_->shop.SentTablePath();
  if (!impl_->Use(h, path, impl_->writing, impl_->shop.DeliveryFileIoSet())) return false;
  const int f = h.table.FieldIndex("订单编号"_gbk);
  bool ok = false;
  return f >= 0 && impl_->shop.Index().SentOrderExists(h.table, path, f, orderNumber, &ok);
}

bool DeliveryTables::ItemExists(std::string_view name) {
  InsideAHold(impl_->shop);
  HeldTable& h = impl_->items;
  const std::string path = impl_->shop.ItemsTablePath();
  if (!impl_->Use(h, path, false, impl_->shop.StoreFileIo())) return false;
  const int f = h.table.FieldIndex("宝贝名称"_gbk);
  bool ok = false;
  return f >= 0 && impl_->shop.Index().ItemNamed(h.table, path, f, name, &ok);
}

std::vector<StockCard> DeliveryTables::LoadFirstStockCardsOf(std::string_view itemName, std::size_t limit,
                                                             std::size_t* total) {
  InsideAHold(impl_->shop);
  std::vector<StockCard> cards;
  if (total) *total = 0;
  HeldTable& h = impl_->stock;
  const std::string path = impl_->shop.StockTablePath();
  if (!impl_->Use(h, path, impl_->writing, impl_->shop.DeliveryFileIoSet())) return cards;
  RecordTable& t = h.table;
  const int name = t.FieldIndex("宝贝名称"_gbk), number = t.FieldIndex("宝贝卡号"_gbk),
            password = t.FieldIndex("宝贝卡密"_gbk);
  if (name < 0 || number < 0 || password < 0) return cards;
  // A position that no longer holds the card the index names (a write the
  // change check could not see) rebuilds the index once; after that, a
  // card that does not read back is passed over as an unreadable one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::deque<std::int32_t>* positions = impl_->shop.Index().StockOf(t, path, name, itemName);
    if (!positions) return cards;
    cards.clear();
    bool stale = false;
    for (std::int32_t index : *positions) {
      if (cards.size() >= limit) break;
      const bool live =
          t.GoTo(index + 1) && t.RecordNumber() == index + 1 && t.RecordId() > 0 && Equals(t, name, itemName);
      if (!live) {
        stale = attempt == 0;
        if (stale) break;
        continue;
      }
      StockCard card;
      card.itemName = std::string(itemName);
      card.cardNumber = t.ReadTextAt(number).value_or(std::string());
      card.cardPassword = t.ReadTextAt(password).value_or(std::string());
      card.recordNumber = index + 1;
      cards.push_back(std::move(card));
    }
    if (!stale) {
      if (total) *total = positions->size();
      impl_->loaded = cards;
      return cards;
    }
    impl_->shop.Index().InvalidateStock();
  }
  return cards;
}

std::vector<std::string> DeliveryTables::SettingValues(std::string_view name) {
  InsideAHold(impl_->shop);
  std::vector<std::string> values;
  if (auto known = impl_->settingValues.find(name); known != impl_->settingValues.end()) return known->second;
  HeldTable& h = impl_->settings;
  if (!impl_->Use(h, impl_->shop.SettingsTablePath(), false, impl_->shop.StoreFileIo())) return values;
  RecordTable& t = h.table;
  const int nameField = t.FieldIndex("配置名"_gbk), dataField = t.FieldIndex("配置数据"_gbk);
  if (nameField < 0 || dataField < 0) return values;
  const std::int32_t n = t.RecordCount();
  t.GoTo(1);
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (t.RecordId() <= 0 || !Equals(t, nameField, name)) continue;
    std::optional<std::string> value = t.ReadTextAt(dataField);
    // A value that could not be read is not kept for the next holds.
    if (!value) return values;
    values.push_back(std::move(*value));
  }
  impl_->settingValues.emplace(std::string(name), values);
  return values;
}

Status DeliveryTables::FlushTables() {
  Hold hold(*this);
  InsideAHold(impl_->shop);
  // The rows before the marks, as FlushDeliveryTables.
  Status rows = impl_->Use(impl_->sent, impl_->shop.SentTablePath(), false, impl_->shop.DeliveryFileIoSet());
  if (rows) rows = impl_->sent.table.Sync();
  Status marks =
      impl_->Use(impl_->stock, impl_->shop.StockTablePath(), false, impl_->shop.DeliveryFileIoSet());
  if (marks) marks = impl_->stock.table.Sync();
  return rows ? marks : rows;
}

RecordOutcome DeliveryTables::RecordPlannedCards(const DeliveryPlan& plan, Status* cause, TableFlush flush,
                                                 PlanState state) {
  InsideAHold(impl_->shop);
  Status ignored;
  Status& why = cause ? *cause : ignored;
  why = Status();
  if (plan.cards.empty()) return RecordOutcome::kNothingWritten;
  const std::string stockPath = impl_->shop.StockTablePath();
  const std::string sentPath = impl_->shop.SentTablePath();
  for (auto [h, path] : {std::pair{&impl_->stock, &stockPath}, std::pair{&impl_->sent, &sentPath}}) {
    if (Status used = impl_->Use(*h, *path, true, impl_->shop.DeliveryFileIoSet()); !used) {
      why = std::move(used);
      return RecordOutcome::kUnsure;
    }
  }
  const RecordOutcome outcome = RecordPlan(impl_->shop, impl_->stock.table, impl_->sent.table, stockPath,
                                           sentPath, plan, why, flush, state, &impl_->loaded);
  impl_->loaded.clear();
  return outcome;
}

}  // namespace autodeliver
