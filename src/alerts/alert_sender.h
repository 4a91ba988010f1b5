// Sends the program's news to the seller's alert channels
// (alert_channels.h), beside the desktop notifications: it is a Notifier,
// and the program hands it every notification the policy lets through, so
// the seller's "通知:…" switches hold for both.
//
// Notify never waits for the network. It turns the notification into an
// alert (the shop and the time added) and queues it; a thread of the
// sender's own, started with the first alert, sends the queue in order, to
// every usable channel. At most kQueueBound alerts wait; further ones are
// dropped and counted.
//
// Repeats: an alert of the same kind about the same item (the
// notification's subject) within the seller's interval ("提醒:同类间隔分钟",
// 30 minutes by default) after the last one is not sent again; a
// notification for every order of a cycle whose message the IM client
// refused becomes one alert, not one per order or per cycle. The daily
// summary and the test message are never held back.
//
// Failures: an attempt that fails is tried again after kBackOff[0], then
// kBackOff[1] and kBackOff[2]; after the last the alert is given up on that
// channel and a log line says so (without the channel's URL, key or
// password). A channel whose alert was given up counts as failing: the
// trouble report names it once, and again only after it has worked in
// between; a success clears it.
//
// Time and waiting come from the hooks, so tests run without real waits.
//
// Thread safety: Notify, Send, WaitIdle and the counters may be called from
// any thread. The hooks are called on the sender's thread. The destructor
// abandons the send or back-off in hand (the real channels stop within
// about a second), gives up the rest of the queue and joins the thread.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "alerts/alert_channels.h"
#include "alerts/alert_settings.h"
#include "base/mutex.h"
#include "delivery/notifier.h"

namespace autodeliver {

// The alert kind's code in the JSON webhook ("im_failed",
// "waiting_for_stock", "stock_warning", "page_unpaired", "login_expired").
const char* AlertKindCode(NotificationKind kind);

class AlertSender final : public Notifier {
 public:
  static constexpr std::size_t kQueueBound = 16;
  static constexpr std::chrono::seconds kBackOff[] = {std::chrono::seconds(10), std::chrono::seconds(30),
                                                      std::chrono::seconds(90)};

  struct Hooks {
    // The configuration, read at each alert (the program reads the shop's
    // with LoadAlertSettings); without one no channel is on.
    std::function<AlertSettings()> settings;
    // The wall clock; default std::time.
    std::function<std::time_t()> now;
    // Waits a back-off; returns early when `stop` turns true. Default: a
    // real wait on the sender's condition.
    std::function<void(std::chrono::milliseconds, const std::function<bool()>& stop)> wait;
    // One attempt on one channel; default SendThroughChannel.
    std::function<ChannelAnswer(const AlertChannel&, const Alert&)> send;
    // A line for the delivery log (UTF-8, warning level); default none.
    std::function<void(const std::string&)> log;
    // The failing channels' captions, joined by "、", empty when none
    // fails; called when the set changes. Default none.
    std::function<void(const std::string&)> trouble;
  };

  explicit AlertSender(Hooks hooks = {});
  ~AlertSender() override;
  AlertSender(const AlertSender&) = delete;
  AlertSender& operator=(const AlertSender&) = delete;

  void Notify(const Notification& notification) override;

  // Queues `alert` (its shop and time filled in when empty / 0) without the
  // repeat check; false when the queue is full.
  bool Send(Alert alert);

  // Waits until the queue is empty and no alert is in hand, at most `bound`.
  bool WaitIdle(std::chrono::milliseconds bound);

  // Alerts handed to a channel / given up on a channel (after the retries)
  // / dropped at a full queue / held back as repeats.
  int delivered() const;
  int givenUp() const;
  int dropped() const;
  int heldBack() const;

 private:
  void Run();
  void Deliver(const Alert& alert, const AlertSettings& settings);
  void Log(const std::string& line);

  Hooks hooks_;
  mutable Mutex mutex_;
  CondVar wake_;
  CondVar idle_;
  std::deque<std::pair<Alert, bool>> queue_ AD_GUARDED_BY(mutex_);  // alert, repeat-checked
  std::map<std::pair<std::string, std::string>, std::time_t> lastSent_ AD_GUARDED_BY(mutex_);
  // The seller's interval as the sender's thread last read it.
  std::time_t repeatSeconds_ AD_GUARDED_BY(mutex_) = 30 * 60;
  bool busy_ AD_GUARDED_BY(mutex_) = false;
  bool stopping_ AD_GUARDED_BY(mutex_) = false;
  // Set with stopping_ (under mutex_): abandons a send in hand, and is the
  // back-off's stop test, which may run with or without mutex_ held.
  std::atomic<bool> cancel_{false};
  int delivered_ AD_GUARDED_BY(mutex_) = 0;
  int givenUp_ AD_GUARDED_BY(mutex_) = 0;
  int dropped_ AD_GUARDED_BY(mutex_) = 0;
  int heldBack_ AD_GUARDED_BY(mutex_) = 0;
  std::set<AlertChannelKind> failing_;        // sender's thread only
  std::thread thread_ AD_GUARDED_BY(mutex_);  // started by the first alert
};

}  // namespace autodeliver
