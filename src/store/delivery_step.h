// The store work of one order's delivery as a single step: the stock cards
// planned for the order are taken (marked deleted where they stand; marked
// records are never served as live) and their sent rows appended, both
// tables held at once, then both tables flushed to the disk (or, for a
// caller whose flushed write-ahead log holds the plan, flushed later
// together with the other orders of its cycle: TableFlush). The marked
// cards stay in the file until a compaction removes them together (at a
// quarter of the table here, else at idle or at close: CompactStockIfWorthIt,
// CompactStock in stock_table.h), so a delivery rewrites nothing behind its
// cards. The step keeps the store's index (store_index.h) current. The step
// can be repeated after a crash: a card already recorded is not recorded
// again, a card already taken is not taken again, so a plan cut short
// anywhere is completed by running it once more.
//
// Order of the writes: the sent rows first, the stock marks after. A cut
// between the two leaves a card both recorded and in stock; running the plan
// again marks it before any new card is taken. A sent row that cannot be
// written (a full disk, a failing disk) makes the step undo the rows it appended and take no
// card: nothing is written half.
//
// Thread safety: takes the shop's store lock (shop_context.h) for the whole step.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/status.h"
#include "store/rows.h"
#include "store/shop_context.h"
#include "store/store_lock.h"

namespace autodeliver {

class FileIo;

// One card of a plan: where it stood in the stock and the row it gets.
struct PlannedCard {
  int stockRecord = 0;       // its record number in the stock when planned
  std::string stockNumber;   // the card number as the stock holds it
  std::string cardPassword;  // as the stock holds it
  std::string sentNumber;    // the number that goes to the buyer (an online card resolved)
};

// The cards planned for one order and the fields of their sent rows.
struct DeliveryPlan {
  std::string orderNumber;
  std::string itemName;
  std::string buyerNick;
  std::string remark;
  int quantity = 0;
  std::string sentAt;
  std::vector<PlannedCard> cards;
};

enum class RecordOutcome {
  kRecorded,        // every card recorded and out of the stock (flushed to the disk when asked)
  kNothingWritten,  // the tables are as before and no card of the plan was recorded before
                    // (a planned card no longer in stock, a row that could not be written)
  kUnsure,          // the tables could not be opened, or what was written is not known
                    // to be on the disk: run the plan again
  kUnsettled,       // a planned card is neither in stock nor recorded: the plan cannot complete
  kTooLong,         // nothing written: a value of a row (the order number, the nick, ...) is longer
                    // than its fixed-width field in the sent table, which never cuts one
};

// How RecordPlannedCards leaves the tables.
enum class TableFlush {
  kNow,       // both tables flushed before it returns
  kDeferred,  // written, not flushed: the caller holds the plan in a flushed
              // write-ahead log and calls FlushDeliveryTables later; the
              // stock is not compacted here then (that would flush the marks
              // before the rows)
};

// What the caller knows of the plan.
enum class PlanState {
  kNew,             // maybe never recorded: a card neither in stock nor recorded was never taken
  kRecordedBefore,  // recorded once (its cards may have reached the buyer): a card neither in
                    // stock nor recorded lost its row with unflushed writes (a power cut after
                    // the stock reached the disk) and gets it again from the plan
};

// Records and takes the plan's cards, as above. `cause`, when given, is set
// to why the cards are not all recorded: the first failure of opening,
// holding, writing or flushing a table (a full disk, an I/O error with its
// file, a lock held elsewhere), kTooLong for kTooLong; it stays ok for
// kRecorded and for a plan whose cards are simply no longer in stock.
RecordOutcome RecordPlannedCards(ShopContext& shop, const DeliveryPlan& plan, Status* cause = nullptr,
                                 TableFlush flush = TableFlush::kNow, PlanState state = PlanState::kNew);

// The stock, the sent cards, the monitored items and the settings held
// open for a delivery session: the delivery controller makes one for its
// cycles (a cycle without one makes its own) and hands it down to each
// order's steps, so that an order's store work opens no file. The sent
// check, the item check, the load of the order's cards and their record
// run inside a Hold, which takes the store lock across processes
// (SharedStoreGuard, store_lock.h).
//
// The change check covers all tables at once: every writer of the tables
// takes that lock first and raises the folder's change stamp before it
// writes. A hold that finds the stamp as the session's last hold left it
// (and no table file made, removed or renamed in the data folder since,
// which a backup put back would do) uses the tables as they are: no header
// read, no look at the files. Otherwise each table is looked at on its
// first use in the hold (header, block 0, a compaction cut short, a file
// replaced), as is a table whose last access failed somewhere; the store's
// index (store_index.h) rebuilds what another writer changed. A table
// whose file was replaced or rebuilt under its name is opened again.
//
// A hold locks only the tables it writes (the stock and the sent cards,
// for writing, until it ends), so that other programs' readers see them
// whole at every release; the tables it only reads need no lock, as no
// writer of ours can run while it holds the folder's lock.
//
// Between two holds the tables stay open but neither locked nor claimed:
// the window's store operations and other programs use the files as if no
// session were there, and every lock release leaves them whole (the
// writes inside a hold are the same as a store operation's). Inside a
// hold, the session's own calls are the only store work on these tables:
// a store operation on one of them there fails as busy.
//
// Thread safety: used by one thread at a time (the delivery thread); every
// call but construction and destruction is made inside a Hold.
class DeliveryTables {
 public:
  explicit DeliveryTables(ShopContext& shop);  // the shop outlives the session
  ~DeliveryTables();                           // closes the tables
  DeliveryTables(const DeliveryTables&) = delete;
  DeliveryTables& operator=(const DeliveryTables&) = delete;

  ShopContext& shop() const;

  // One hold of the session: the store lock for its lifetime, and the
  // tables used inside it held until its end. A hold `forWriting` locks
  // the stock and the sent cards for writing at their first use (the
  // change stamp raised before), so that recording the cards after looking
  // at them needs no second lock call.
  class AD_SCOPED_CAPABILITY Hold {
   public:
    explicit Hold(DeliveryTables& tables, bool forWriting = false) AD_ACQUIRE(tables.shop().StoreLock());
    ~Hold() AD_RELEASE();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    SharedStoreGuard guard_;
    DeliveryTables& tables_;
  };

  // As SentCardExists, ItemExists and LoadFirstStockCardsOf of the
  // store's tables (sent_table.h, item_table.h, stock_table.h) and
  // RecordPlannedCards below, on the held tables. Each is made inside a
  // Hold (a holder kept in a std::optional, which the clang analysis cannot
  // follow, included); outside one it fails as a table that cannot be read.
  bool SentCardExists(std::string_view orderNumber);
  bool ItemExists(std::string_view name);
  std::vector<StockCard> LoadFirstStockCardsOf(std::string_view itemName, std::size_t limit,
                                               std::size_t* total);
  RecordOutcome RecordPlannedCards(const DeliveryPlan& plan, Status* cause = nullptr,
                                   TableFlush flush = TableFlush::kNow, PlanState state = PlanState::kNew);
  // As GetSettingValues (settings.h), on the settings table held.
  std::vector<std::string> SettingValues(std::string_view name);

  // As FlushDeliveryTables below, through the tables held (in a hold of its
  // own; not inside one).
  Status FlushTables();

  // Internal state; defined in delivery_step.cpp.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Flushes the sent table, then the stock, to the disk (with their companion
// files), under the store lock: what deferred RecordPlannedCards calls wrote
// is then kept by a power cut. The Status tells why a table could not be
// opened or flushed (the sent table's failure first).
Status FlushDeliveryTables(ShopContext& shop);

// A function called at each boundary between two effects of a delivery
// (`step` names the boundary), or null. Crash tests arm it to end the
// process there; the program leaves it null.
using DeliveryStepHook = void (*)(const char* step);
void SetDeliveryStepHook(DeliveryStepHook hook);
void DeliveryStepBoundary(const char* step);

}  // namespace autodeliver
