// The delivery journal: a file of the data folder ("delivery.journal") in
// which each order's delivery leaves a line per step, so that a delivery
// cut short by a crash, a power cut or a full disk is finished (or given
// up cleanly) by the next start or cycle.
//
// Per order, in this order: the plan (the cards chosen for it, with the
// fields of their sent rows), recorded (the sent rows and the stock marks
// are on the disk), exporting (per card, before its card.mdb row is
// appended: the row count of card.mdb at that moment, so that the recovery
// can tell whether the append got there), exported (one line per card
// written to card.mdb),
// handed (the message reached the chat window), consigned; or closed (the
// order was given up: nothing taken, or marked for the seller). Each line
// is written whole and flushed to the disk before the step that follows it
// has any effect outside the program; a line cut short by a crash has no
// valid checksum and is passed over.
//
// Thread safety: used by the delivery thread only (the cycle and the
// recovery it runs); the file is never shared by two processes (the
// instance lock sees to that).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/delivery_step.h"

namespace autodeliver {

// DataDir() + "/delivery.journal".
std::string DeliveryJournalPath();

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

  // Nothing left to do: given up, or consigned with every card in card.mdb.
  bool Finished() const { return closed || (consigned && AllExported()); }
  bool AllExported() const;
};

class DeliveryJournal {
 public:
  explicit DeliveryJournal(std::string path = DeliveryJournalPath());

  // Each writes one line and flushes it; false when it could not be (the
  // file then holds no part of it).
  bool Planned(const DeliveryPlan& plan);
  bool Recorded(const std::string& orderNumber);
  bool Exporting(const std::string& orderNumber, std::size_t cardIndex, std::uint32_t fromRow);
  bool Exported(const std::string& orderNumber, std::size_t cardIndex);
  bool Handed(const std::string& orderNumber);
  bool Consigned(const std::string& orderNumber);
  bool Closed(const std::string& orderNumber);

  // Every order the journal holds, in the order of their plans (a later
  // plan of the same order replaces an earlier, finished one).
  std::vector<LedgerEntry> Entries() const;
  // The orders not yet finished.
  std::vector<LedgerEntry> Unfinished() const;

  // Rewrites the file with the unfinished orders only (through a file
  // beside it, renamed over it, the folder flushed).
  bool Compact();

  const std::string& path() const { return path_; }

 private:
  bool Append(const std::string& line);
  std::string path_;
};

}  // namespace autodeliver
