// The delivery switch, ticks and the delivery thread; see
// controller.h.
#include "delivery/controller.h"

#include <climits>
#include <cstdint>
#include <utility>

#include "delivery/card_row_export.h"
#include "delivery/journal.h"
#include "delivery/recovery.h"
#include "store/stock_table.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {

DeliveryController::DeliveryController(ShopContext& shop, DeliveryWindow& window, MessageSender& sender,
                                       DeliveryEvents* events)
    : DeliveryController(
          shop, window,
          [this, &shop, &sender, events](const std::atomic<bool>& stop) {
            // The tables stay open across the cycles of the session.
            if (!tables_) tables_ = std::make_unique<DeliveryTables>(shop);
            return RunDeliveryCycle(shop, sender, stop, events, &loginWatch_, &imWatch_, nullptr,
                                    tables_.get());
          },
          [this, &shop, &sender, events](const ResendRequest& request, const std::atomic<bool>& stop) {
            const ResendBatch batch = RunResend(shop, request, sender, events, &stop);
            // What the seller's resend learnt about the IM client holds for
            // the next cycle too: a message not taken stops new cards until
            // the client answers; a message taken shows it answers.
            for (const ResendResult& r : batch.results) {
              if (r.outcome == ResendOutcome::kNotHanded) imWatch_.MarkAway();
              if (r.outcome == ResendOutcome::kResent) {
                imWatch_.MarkBack();
                imWatch_.Forget(r.order.orderNumber);
              }
            }
            return batch;
          }) {
  // Deliveries cut short by the last run are completed in the tables before
  // the window shows them; what needs the marketplace waits for the first
  // cycle.
  RecoverDeliveryRecords(shop, events);
}

DeliveryController::DeliveryController(ShopContext& shop, DeliveryWindow& window, CycleRunner runCycle,
                                       ResendRunner resend)
    : shop_(shop), window_(window), runCycle_(std::move(runCycle)), resend_(std::move(resend)) {}

DeliveryController::~DeliveryController() {
  RequestStop();
  WaitForCycle();
  // No cycle runs any more: the deliveries not yet applied reach the tables'
  // and card.mdb's disk (other tools read card.mdb after the program
  // closed), and the cards the deliveries marked leave the file.
  DeliveryJournal journal(shop_);
  ApplyDeliveryJournal(journal, tables_.get());
  tables_.reset();
  CompactStock(shop_);
}

std::string DeliveryController::ApplySetting(bool ticked, const std::string& secondsText) {
  static const std::string kOn = "自动发货扫描时间："_gbk;
  static const std::string kSeconds = " 秒"_gbk;
  static const std::string kOff = "未开启自动发货功能"_gbk;
  int interval = 0;
  if (ticked) {
    const std::int64_t ms = static_cast<std::int64_t>(TextToInt(secondsText)) * 1000;
    interval = ms <= 0 ? 0 : static_cast<int>(ms > INT_MAX ? INT_MAX : ms);
  }
  {
    MutexLock lock(mutex_);
    interval_ = interval;
    // A setting made while a cycle runs outlives the cycle.
    if (running_.load()) settingChangedInCycle_ = true;
    window_.SetTimerInterval(interval);
  }
  return ticked ? kOn + secondsText + kSeconds : kOff;
}

void DeliveryController::OnTick() {
  if (stopRequested_.load()) return;
  {
    MutexLock lock(mutex_);
    if (running_.load() || resending_.load()) return;  // one cycle at a time, never beside a resend
    savedInterval_ = interval_;
    settingChangedInCycle_ = false;
    interval_ = 0;
    window_.SetTimerInterval(0);
    running_.store(true);
  }
  // The previous cycle has ended (running_ was false); collect its thread.
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread(&DeliveryController::CycleThread, this);
}

void DeliveryController::CycleThread() {
  const CycleResult result = runCycle_(stopRequested_);
  const bool stopping = stopRequested_.load();
  // Between two cycles, still counted as running so that no cycle or resend
  // starts beside it: the cards the deliveries marked are removed once they
  // are worth a rewrite. The lists then show the new record numbers.
  // A compaction that fails leaves the marked cards marked, out of the
  // stock; the next idle moment tries again.
  bool compacted = false;
  if (!stopping) CompactStockIfWorthIt(shop_, &compacted);
  if ((result.ordersDelivered > 0 || compacted) && !stopping) window_.RefreshAfterDelivery();
  MutexLock lock(mutex_);
  lastResult_ = result;
  if (!stopping) {
    if (!settingChangedInCycle_) interval_ = savedInterval_;
    window_.SetTimerInterval(interval_);
  }
  running_.store(false);
}

bool DeliveryController::IsCycleRunning() const { return running_.load(); }

DeliveryController::ResendStart DeliveryController::StartResend(
    ResendRequest request, std::function<void(const ResendBatch&)> done) {
  if (!resend_) return ResendStart::kUnavailable;
  if (stopRequested_.load()) return ResendStart::kStopping;
  {
    MutexLock lock(mutex_);
    if (running_.load()) return ResendStart::kCycleRunning;
    if (resending_.load()) return ResendStart::kResendRunning;
    resending_.store(true);
  }
  // Whatever ran before has ended; collect its thread.
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread([this, request = std::move(request), done = std::move(done)] {
    const ResendBatch result = resend_(request, stopRequested_);
    {
      MutexLock lock(mutex_);
      resending_.store(false);
    }
    if (done) done(result);
  });
  return ResendStart::kStarted;
}

bool DeliveryController::IsResendRunning() const { return resending_.load(); }

int DeliveryController::TimerInterval() const {
  MutexLock lock(mutex_);
  return interval_;
}

CycleResult DeliveryController::LastCycleResult() const {
  MutexLock lock(mutex_);
  return lastResult_;
}

void DeliveryController::RequestStop() { stopRequested_.store(true); }

void DeliveryController::WaitForCycle() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace autodeliver
