// What the seller is told on the desktop while the program runs unattended:
// the kinds of notification and the interface that shows one. The program
// shows them through the desktop's notification service
// (desktop_notifier.h); tests record them. Which events give which
// notification, and how often, is the policy's business
// (notification_policy.h).
//
// Thread safety: Notify may be called from any thread (the policy calls it
// on the delivery thread) and must return quickly.
#pragma once

#include <string>

namespace autodeliver {

enum class NotificationKind {
  kImFailed,         // a message could not be handed to the IM client
  kWaitingForStock,  // an order waits for stock (told the first time only)
  kStockWarning,     // a monitored item's stock fell to its warning level
  kPageUnpaired,     // the order page could not be paired
  kLoginExpired,     // the login looks expired
  kOrderHeld,        // the order rules held an order back (told once per reason)
};

inline constexpr NotificationKind kAllNotificationKinds[] = {
    NotificationKind::kImFailed,     NotificationKind::kWaitingForStock, NotificationKind::kStockWarning,
    NotificationKind::kPageUnpaired, NotificationKind::kLoginExpired,    NotificationKind::kOrderHeld};

struct Notification {
  NotificationKind kind = NotificationKind::kImFailed;
  std::string summary;  // UTF-8, one short line
  std::string body;     // UTF-8
  // What it is about, for telling repeats apart (UTF-8): the item's title
  // for stock news, empty for the shop as a whole (the IM client, the
  // order page, the login).
  std::string subject;

  bool operator==(const Notification&) const = default;
};

class Notifier {
 public:
  virtual ~Notifier() = default;
  // Shows the notification (or queues it to be shown); no result, a
  // notification that cannot be shown is dropped.
  virtual void Notify(const Notification& notification) = 0;
};

}  // namespace autodeliver
