// A private session D-Bus with the recording notification service
// (autodeliver-notify-sim) on it, for one test: the bus daemon is started
// with the session configuration and prints its address; the service
// prints "ready" once it owns org.freedesktop.Notifications and then one
// JSON line per notification. Nothing of the machine's own session is
// touched. Both processes are started without a shell and ended (SIGTERM,
// then waited for) when the fixture goes; every read is bounded.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace autodeliver::testing {

class NotificationBus {
 public:
  static constexpr std::chrono::milliseconds kBound{20000};

  // `markup`: the service says it understands markup in the body.
  explicit NotificationBus(bool markup = false, bool withService = true)
      : daemon_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}, {}) {
    const std::optional<std::string> address = daemon_.NextLine(kBound);
    if (!address || address->empty()) return;
    address_ = *address;
    if (!withService) return;
    std::vector<std::string> args = {std::string(AUTODELIVER_BINARY_DIR) +
                                     "/tools/notify_sim/autodeliver-notify-sim"};
    if (markup) args.push_back("--markup");
    service_.emplace(args, std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + address_});
    ready_ = service_->NextLine(kBound) == std::optional<std::string>("ready");
  }

  bool ok() const { return !address_.empty() && (ready_ || !service_); }
  const std::string& address() const { return address_; }

  // The next notification the service recorded (a JSON line), or nullopt
  // when none came within `bound`.
  std::optional<std::string> NextNotification(std::chrono::milliseconds bound = kBound) {
    return service_ ? service_->NextLine(bound) : std::nullopt;
  }

 private:
  ChildWithOutput daemon_;
  std::optional<ChildWithOutput> service_;
  std::string address_;
  bool ready_ = false;
};

}  // namespace autodeliver::testing
