// The delivery journal: a file of the data folder ("delivery.journal") that
// is the write-ahead log of the deliveries. Each order's delivery starts with
// one record, the plan, that holds everything the order changes: the cards
// taken from the stock, the fields of their sent rows, and so the card.mdb
// rows (order number, card number, password). The plan is the one line
// flushed to the disk before the buyer's message leaves; the tables are
// changed right after it without a flush of their own, and brought to the
// disk, with card.mdb, when the journal is applied (card_row_export.h:
// ApplyDeliveryJournal): by a cycle that delivered nothing, or once the
// journal holds more than its bound of orders, one flush per file each
// time. A delivery cut short by a crash, a power cut or a full disk is
// completed from the plan by the next start or cycle: every step of the
// replay can be run twice without effect.
//
// The process keeps what it knows of the file (its descriptor, its end,
// the entries its lines tell) for every DeliveryJournal of the same path,
// so appends need no look at the file and reads none of it while no one
// else wrote it; a stat on each read (the same file, the size this process
// left) tells when the file must be read again.
//
// The other lines record progress: recorded (the sent rows and the stock
// marks are written), exporting (per card, before its card.mdb row is
// appended: card.mdb's row count at that moment, so that the replay can tell
// whether the append got there; flushed), exported (the row is in card.mdb),
// handed (the message reached the chat window), consigned; or closed (the
// order was given up: nothing taken, or marked for the seller; flushed).
// Recorded, exported, handed and consigned are written without a flush: a
// crashed process leaves them to the system, which still writes them; only a
// power cut can take them back, and then the replay finds the same state
// again from the plan (at worst the buyer gets the same message twice).
//
// Each line is written whole; a line cut short has no valid checksum and is
// passed over. Journals written before keep being read: their lines are the
// same.
//
// Thread safety: used by the delivery thread only (the cycle and the
// recovery it runs); the file is never shared by two processes (the
// instance lock sees to that). Two DeliveryJournal objects may append to the
// same file one after the other (they share the process's view of it,
// under a mutex).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "io/status.h"
#include "store/delivery_step.h"

namespace autodeliver {

class ShopContext;

// shop.DataDir() + "/delivery.journal".
std::string DeliveryJournalPath(const ShopContext& shop);

// One order's delivery as the journal tells it.
struct LedgerEntry {
  DeliveryPlan plan;
  bool recorded = false;
  std::vector<bool> exported;  // per card of the plan
  // Per card: card.mdb's row count before the last append begun for it.
  std::vector<std::optional<std::uint32_t>> exportFrom;
  bool handed = false;
  bool consigned = false;
  bool closed = false;

  // Nothing left to do: given up or consigned, with every card recorded
  // also in card.mdb.
  bool Finished() const { return (closed && (!recorded || AllExported())) || (consigned && AllExported()); }
  bool AllExported() const;
};

// One card of an order's plan.
struct PlannedCardRef {
  std::string orderNumber;
  std::size_t cardIndex = 0;
};

class DeliveryJournal {
 public:
  // The journal of `shop` at DeliveryJournalPath(shop), or at `path`; its
  // writes go through the shop's DeliveryFileIo().
  explicit DeliveryJournal(ShopContext& shop);
  DeliveryJournal(ShopContext& shop, std::string path);
  ~DeliveryJournal();
  DeliveryJournal(const DeliveryJournal&) = delete;
  DeliveryJournal& operator=(const DeliveryJournal&) = delete;

  // Each writes its line(s) whole, flushed to the disk where the file's
  // comment says so; when it could not be (the file then holds no part of
  // it), the Status tells why: a full disk, an I/O error or a refused
  // permission, naming the journal's file.
  Status Planned(const DeliveryPlan& plan);
  Status Recorded(const std::string& orderNumber);
  Status Exporting(const std::string& orderNumber, std::size_t cardIndex, std::uint32_t fromRow);
  Status Exported(const std::string& orderNumber, std::size_t cardIndex);
  // The same for several cards in one write: every card gets `fromRow`, the
  // row count before the first of their appends.
  Status Exporting(const std::vector<PlannedCardRef>& cards, std::uint32_t fromRow);
  Status Exported(const std::vector<PlannedCardRef>& cards);
  Status Handed(const std::string& orderNumber);
  Status Consigned(const std::string& orderNumber);
  Status Closed(const std::string& orderNumber);

  // True when a plan written through this object is neither recorded nor
  // closed yet: its cards may be half taken (a row written, the card still
  // in stock), so no other card is planned until the recovery settles it.
  bool HasUnsettledPlan() const { return !unsettled_.empty(); }

  // Every order the journal holds, in the order of their plans (a later
  // plan of the same order replaces an earlier, finished one).
  std::vector<LedgerEntry> Entries();
  // The orders not yet finished.
  std::vector<LedgerEntry> Unfinished();
  // How many orders the journal holds: recorded but not yet all in
  // card.mdb (the tables and card.mdb still to be brought up to date for
  // them), and finished (to be cut from the file).
  struct Counts {
    std::size_t unapplied = 0;
    std::size_t finished = 0;
  };
  Counts OrderCounts();
  // True when this process recorded the order's cards (its "recorded" line
  // was written here, since the file was last read): the rows are in the
  // tables, only perhaps not yet flushed, so a replay of the plan has
  // nothing to add.
  bool RecordedHere(const std::string& orderNumber);

  // Cuts the finished orders from the file. When every order is finished
  // the file is cut to nothing in place (no flush: finished orders coming
  // back after a power cut are passed over by the replay); while some are
  // open, the finished ones stay until there are kCompactAt of them, and
  // then the file is rewritten with the open ones only (through a file
  // beside it, renamed over it, the folder flushed). The caller makes sure
  // that what the finished orders changed is on the disk first.
  Status Compact();
  static constexpr std::size_t kCompactAt = 64;

  const std::string& path() const { return path_; }
  ShopContext& shop() const { return shop_; }

  struct Shared;

 private:
  Status Append(const std::string& lines, bool flush);
  // Makes sure the shared view mirrors the file: on every read, and before
  // this object's first append (`always` false).
  void Check(bool always) AD_REQUIRES(JournalsLock());
  static Mutex& JournalsLock();
  ShopContext& shop_;
  std::string path_;
  Shared* shared_ = nullptr;         // the process's view of the file, shared by path
  bool checked_ = false;             // the view was checked against the file by this object
  std::set<std::string> unsettled_;  // orders planned here, not yet recorded or closed
};

}  // namespace autodeliver
