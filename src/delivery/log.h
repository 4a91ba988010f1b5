// The delivery log: every delivery event written as one time-stamped line
// (wording.h) to a size-bounded, rotating file in the data folder,
// "logs/delivery.log", and handed to any line receivers (the window's log
// page subscribes one and carries the lines to its own thread). The program
// always runs with it; the seller opens the file to learn what happened
// while nobody watched.
//
// A line in the file reads
//
//   2026-01-05 14:03:07.215 [信息] 订单 1718000000001（买家 买家甲）：宝贝“点卡10元” × 1
//
// in UTF-8, level "信息" or "警告". When the file reaches its size bound it
// becomes delivery.1.log (the older ones move up to delivery.N.log, the
// oldest is dropped), so the log never holds more than
// maxFileBytes × (filesKept + 1) bytes. Each line is flushed to the file as it
// is written, so a crash loses nothing already logged. No card password is
// ever written.
//
// A shop scanned every few seconds lists the same orders again and again,
// so the log writes what changes, not every cycle:
//
//   - a cycle's opening lines (its start, what the page listed, each order
//     seen) are written only once the cycle has something to tell: a
//     delivery, an order held back, a warning, or an order passed by for
//     a reason not logged before;
//   - an order passed by (delivered before, not monitored) or held back is
//     logged once, and again only when its reason changes; an order that
//     leaves the list is forgotten;
//   - cycles with nothing to tell are counted, and summed up in one line
//     an hour after the first of them, before the next cycle that has
//     something to tell, and when the log is closed.
//
// Failures are quiet: a log that cannot open or write its file keeps
// handing lines to its receivers, and ok() / writeFailures() say what went
// wrong. No exception leaves it.
//
// Thread safety: every method may be called from any thread; the events
// come from the delivery thread. Line receivers are called on the thread
// that wrote the line, after the file got it, one line at a time, in order;
// they must not block and must not call back into the log.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "delivery/events.h"
#include "delivery/wording.h"

namespace spdlog {
class logger;
}

namespace autodeliver {

class ShopContext;

// shop.DataDir() + "/logs/delivery.log".
std::string DeliveryLogPath(const ShopContext& shop);

struct DeliveryLogLine {
  std::chrono::system_clock::time_point at;  // the time stamp written to the file
  LineLevel level = LineLevel::kInfo;
  std::string text;         // UTF-8, as written after the level
  std::string orderNumber;  // GBK; empty for a line about no single order
  std::string buyerNick;    // GBK; the order's buyer, empty without an order
  std::string itemTitle;    // GBK; the order's item, empty without an order
  std::string reason;       // UTF-8 (ReasonText): why the order was passed by or held back
};

class DeliveryLog : public DeliveryEvents {
 public:
  static constexpr std::size_t kDefaultFileBytes = 10 * 1024 * 1024;
  static constexpr std::size_t kDefaultFilesKept = 5;

  struct Options {
    std::string path;  // the current file (DeliveryLogPath); its folder (not the one above) is created
    std::size_t maxFileBytes = kDefaultFileBytes;
    std::size_t filesKept = kDefaultFilesKept;  // rotated files besides the current one
    // The time stamp of every line; the system clock when not given (tests
    // run an hour of cycles without waiting for it).
    std::function<std::chrono::system_clock::time_point()> clock;
  };

  using LineSink = std::function<void(const DeliveryLogLine&)>;

  // The shop's log at DeliveryLogPath(shop), with the default sizes.
  explicit DeliveryLog(const ShopContext& shop);
  explicit DeliveryLog(const Options& options);
  ~DeliveryLog() override;
  DeliveryLog(const DeliveryLog&) = delete;
  DeliveryLog& operator=(const DeliveryLog&) = delete;

  // The file is open for writing.
  bool ok() const { return logger_ != nullptr; }
  const std::string& path() const { return path_; }
  // Lines the file did not take (write or rotation errors) since the start.
  int writeFailures() const;

  // Adds a receiver of every line written from now on; returns its id.
  int AddLineSink(LineSink sink);
  // Removes a receiver; once this returns it is not called any more.
  void RemoveLineSink(int id);

  // Writes one line of the program's own (for example the program's start
  // or a notification that could not be shown). `text` is UTF-8; a line
  // break in it is written as \x0A.
  void Write(LineLevel level, const std::string& text, const std::string& orderNumber = {});
  void Write(const WordedLine& line, const std::string& orderNumber = {});

  // Hands everything written so far to the file system.
  void Flush();

  // DeliveryEvents: one line per event.
  void CycleStarted() override;
  void OrdersScanned(const OrderScan& scan) override;
  void OrderSeen(const PendingOrder& order) override;
  void OrderSkipped(const PendingOrder& order, SkipReason reason) override;
  void OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) override;
  // With its cause; again only when the cause changes.
  void OrderNotWritten(const PendingOrder& order, const Status& cause) override;
  // Written once per order and reason, not at every cycle.
  void OrderHeld(const PendingOrder& order, HoldReason reason, bool news) override;
  void CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) override;
  void StockAfterDelivery(const PendingOrder& order, int cardsLeft) override;
  void MessageHanded(const PendingOrder& order, bool handed) override;
  void OrderConsigned(const PendingOrder& order, bool answered) override;
  void OrderRecovered(const PendingOrder& order, RecoveryAction action, bool ok,
                      const Status& cause) override;
  void LoginStateChanged(bool looksExpired) override;
  void CycleEnded(const CycleResult& result) override;
  void OrderResent(const ResendResult& result) override;

 private:
  // One line about `order`, with its buyer, item and `reason` for the
  // receivers.
  void WriteAbout(const WordedLine& worded, const PendingOrder& order, std::string reason = {});
  void WriteLine(DeliveryLogLine line);
  std::chrono::system_clock::time_point Now() const;

  // The quiet cycle (above); its members are guarded by cycleMutex_, which
  // is taken before mutex_.
  // Writes what the cycle kept back (the idle summary before it, its start,
  // the scan, the order seen): it has something to tell.
  void OpenCycleLines(const PendingOrder* about = nullptr) AD_REQUIRES(cycleMutex_);
  void WriteIdleSummary() AD_REQUIRES(cycleMutex_);
  // Whether `order` passed by or held back for `reason` was logged already;
  // remembers the reason.
  bool KnownBefore(const PendingOrder& order, int reason) AD_REQUIRES(cycleMutex_);

  std::function<std::chrono::system_clock::time_point()> clock_;
  Mutex cycleMutex_ AD_ACQUIRED_BEFORE(mutex_);
  bool cycleOpen_ AD_GUARDED_BY(cycleMutex_) = false;     // between CycleStarted and CycleEnded
  bool cycleToldAny_ AD_GUARDED_BY(cycleMutex_) = false;  // the cycle wrote a line of its own
  std::chrono::system_clock::time_point cycleStartedAt_ AD_GUARDED_BY(cycleMutex_);
  std::optional<WordedLine> scanLine_ AD_GUARDED_BY(cycleMutex_);  // the listed scan, kept back
  std::optional<PendingOrder> seen_ AD_GUARDED_BY(cycleMutex_);    // the order seen last, kept back
  // Order number -> reason logged (skip: 0..; wait: 100..).
  std::map<std::string, int> reasonOf_ AD_GUARDED_BY(cycleMutex_);
  int idleCycles_ AD_GUARDED_BY(cycleMutex_) = 0;
  std::chrono::system_clock::time_point idleSince_ AD_GUARDED_BY(cycleMutex_);
  int idleListed_ AD_GUARDED_BY(cycleMutex_) = 0;      // orders the last idle cycle listed
  int idleUnmatched_ AD_GUARDED_BY(cycleMutex_) = 0;   // of them, not monitored
  int cycleUnmatched_ AD_GUARDED_BY(cycleMutex_) = 0;  // this cycle's orders not monitored

  std::string path_;
  std::shared_ptr<spdlog::logger> logger_;      // null when the file could not be opened
  std::shared_ptr<std::atomic<int>> failures_;  // counted by the logger's error handler
  mutable Mutex mutex_;                         // serialises writes and guards the receivers
  std::vector<std::pair<int, LineSink>> sinks_ AD_GUARDED_BY(mutex_);
  int nextSinkId_ AD_GUARDED_BY(mutex_) = 1;
};

}  // namespace autodeliver
