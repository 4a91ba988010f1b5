// Desktop notifications through the freedesktop notification service: a
// call of org.freedesktop.Notifications.Notify on the session D-Bus (GIO's
// GDBus), which every Linux desktop answers with a pop-up.
//
// Notify only queues: the calls go out one after another on a thread of the
// notifier's own, started with the first notification, so the delivery
// thread never waits for the desktop. Each call is bounded (kCallBound); at
// most kQueueBound notifications wait, further ones are dropped. The bus
// connection is made on first need and made again after a failure, so a
// desktop that comes up later is still reached. Without a configured
// session bus (no DBUS_SESSION_BUS_ADDRESS and no $XDG_RUNTIME_DIR/bus) the
// notifications are dropped; no bus is ever started for them.
//
// When the service says it understands markup in the body, the body's
// &, < and > are escaped, so page texts show as written.
//
// Thread safety: Notify, WaitIdle and the counters may be called from any
// thread. The destructor waits for the call in hand and drops the rest.
#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <thread>

#include "base/mutex.h"
#include "delivery/notifier.h"

namespace autodeliver {

class DesktopNotifier final : public Notifier {
 public:
  static constexpr std::chrono::milliseconds kCallBound{5000};
  static constexpr std::size_t kQueueBound = 32;

  // `busAddress`: the D-Bus address to talk to (a test's private bus);
  // empty for the session bus.
  explicit DesktopNotifier(std::string busAddress = {});
  ~DesktopNotifier() override;
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  void Notify(const Notification& notification) override;

  // Waits until every queued notification was handed over or given up, for
  // at most `bound`; false when time ran out.
  bool WaitIdle(std::chrono::milliseconds bound);

  // Notifications the service accepted / that could not be handed over
  // (no bus, no service, a refused or timed-out call, a full queue).
  int shown() const;
  int failed() const;

 private:
  struct Connection;
  void Run();

  const std::string busAddress_;
  mutable Mutex mutex_;
  CondVar wake_;
  CondVar idle_;
  std::deque<Notification> queue_ AD_GUARDED_BY(mutex_);
  bool busy_ AD_GUARDED_BY(mutex_) = false;  // a call is in hand
  bool stopping_ AD_GUARDED_BY(mutex_) = false;
  int shown_ AD_GUARDED_BY(mutex_) = 0;
  int failed_ AD_GUARDED_BY(mutex_) = 0;
  std::thread thread_;  // started by the first Notify
};

}  // namespace autodeliver
