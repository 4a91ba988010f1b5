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

#include <string>
#include <vector>

#include "io/status.h"
#include "store/rows.h"
#include "store/shop_context.h"

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
