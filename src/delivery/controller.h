// The automatic delivery switch: the setting applied by "设置", the timer
// ticks and the one delivery thread that runs a cycle.
//
// The window owns the timer (it calls OnTick on every timeout) and shows the
// status text ApplySetting returns; the controller sets the timer's interval
// through DeliveryWindow. A tick stops the timer and starts one cycle on a
// thread of its own; the end of the cycle refreshes the window's lists when
// anything was delivered and restarts the timer. Two cycles never overlap: a
// tick that comes while a cycle runs is ignored. A setting applied while a
// cycle runs takes effect at once and is kept when the cycle ends (the
// interval saved at the cycle's start is dropped).
//
// Resends: a resend of orders (resend.h: the selected ones, or every marked
// one still listed) runs on the delivery thread too, started by StartResend, and never beside a cycle: it is
// refused while a cycle or another resend runs, and a tick that comes while it runs is ignored (the timer
// keeps its interval, so the next tick starts the cycle).
//
// Closing: RequestStop lets the running cycle finish the order in hand and
// stops it before the next order; WaitForCycle then waits for its end. No
// card is ever taken without being recorded. The destructor applies the
// delivery journal (card_row_export.h), so that the tables and card.mdb
// hold every delivery once the program has closed.
//
// Stock compaction: a delivery leaves its cards marked in the stock file.
// After each cycle, on the delivery thread and before the cycle counts as
// ended, the marked cards are removed when they are worth it
// (CompactStockIfWorthIt); the destructor, once no cycle runs, removes
// whatever is left (CompactStock). A crash in between leaves the cards
// marked: out of the stock for every reader, removed by a later compaction.
//
// Thread safety: ApplySetting, OnTick, StartResend, RequestStop and
// WaitForCycle are called from the window's thread; the other accessors from any thread. The
// window and sender must outlive the controller; the window's methods are
// called from the delivery thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/mutex.h"
#include "delivery/cycle.h"
#include "delivery/events.h"
#include "delivery/message_sender.h"
#include "delivery/resend.h"
#include "delivery/window.h"
#include "store/delivery_step.h"

namespace autodeliver {

class ShopContext;

class DeliveryController {
 public:
  // What one cycle does; the stop flag is read before every order.
  using CycleRunner = std::function<CycleResult(const std::atomic<bool>& stopRequested)>;
  // What one resend does; the stop flag is read before every order.
  using ResendRunner =
      std::function<ResendBatch(const ResendRequest& request, const std::atomic<bool>& stopRequested)>;

  // The controller works on `shop` (which must outlive it): the recovery at
  // start, the compaction of the stock after a cycle and at the end.
  // Cycles of RunDeliveryCycle on `shop` with `sender`; `events`, when given, is told
  // each order's fate (on the delivery thread) and must outlive the
  // controller. The controller keeps the login watch across its cycles.
  // Resends go through RunResend with the same sender and events.
  DeliveryController(ShopContext& shop, DeliveryWindow& window, MessageSender& sender,
                     DeliveryEvents* events = nullptr);
  // Cycles of `runCycle` and resends of `resend` (tests give ones they
  // control); without `resend`, StartResend refuses.
  DeliveryController(ShopContext& shop, DeliveryWindow& window, CycleRunner runCycle,
                     ResendRunner resend = {});
  // Requests a stop and waits for a running cycle.
  ~DeliveryController();
  DeliveryController(const DeliveryController&) = delete;
  DeliveryController& operator=(const DeliveryController&) = delete;

  // "设置": with `ticked`, the interval becomes TextToInt(secondsText) seconds
  // (0 or less stops the timer) and the status reads "自动发货扫描时间：" +
  // secondsText as typed + " 秒"; unticked, the timer stops and the status
  // reads "未开启自动发货功能". Returns the status text (GBK).
  std::string ApplySetting(bool ticked, const std::string& secondsText);

  // The timer's timeout. Ignored while a cycle runs or after RequestStop.
  void OnTick();

  bool IsCycleRunning() const;

  enum class ResendStart {
    kStarted,        // the resend runs; `done` will be called
    kCycleRunning,   // a delivery cycle runs; try again once it ended
    kResendRunning,  // another resend runs
    kStopping,       // the program is closing
    kUnavailable,    // this controller has no resend
  };
  // Starts the resend `request` asks for on the delivery thread unless a
  // cycle or a resend runs. `done` is called on the delivery thread with the
  // outcome, once the resend no longer counts as running.
  ResendStart StartResend(ResendRequest request, std::function<void(const ResendBatch&)> done);
  bool IsResendRunning() const;
  // The interval the timer was last given, in milliseconds.
  int TimerInterval() const;
  // The result of the last cycle that ended.
  CycleResult LastCycleResult() const;

  // No further order and no further cycle; the timer is not restarted.
  void RequestStop();
  // Waits until a running cycle has ended (returns at once when none runs).
  void WaitForCycle();

 private:
  void CycleThread();

  ShopContext& shop_;
  DeliveryWindow& window_;
  const CycleRunner runCycle_;
  const ResendRunner resend_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> running_{false};    // a cycle runs; set and cleared under mutex_
  std::atomic<bool> resending_{false};  // a resend runs; set and cleared under mutex_
  mutable Mutex mutex_;
  int interval_ AD_GUARDED_BY(mutex_) = 0;
  int savedInterval_ AD_GUARDED_BY(mutex_) = 0;
  bool settingChangedInCycle_ AD_GUARDED_BY(mutex_) = false;
  CycleResult lastResult_ AD_GUARDED_BY(mutex_);
  LoginWatch loginWatch_;  // used by the delivery thread only
  ImWatch imWatch_;        // used by the delivery thread only
  // The delivery session's tables, open from the first cycle to the
  // controller's end (used by the delivery thread only).
  std::unique_ptr<DeliveryTables> tables_;
  std::thread thread_;  // used on the window's thread only
};

}  // namespace autodeliver
