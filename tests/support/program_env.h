// The surroundings of a test that runs the whole program against the local
// imitations: a private session bus with the recording notification
// service (its address in DBUS_SESSION_BUS_ADDRESS while the object lives,
// the earlier value put back after), the marketplace imitation, a fresh
// shop folder with its empty tables, and the process cookie store emptied
// at the start and at the end.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "delivery/market_sim_fixture.h"
#include "delivery/notification_bus.h"
#include "http/cookie_store.h"
#include "support/shop_folder.h"

namespace autodeliver::testing {

class ProgramEnv {
 public:
  ProgramEnv() {
    if (const char* old = std::getenv(kBusVariable)) oldBus_ = old;
    if (bus_.ok()) setenv(kBusVariable, bus_.address().c_str(), 1);
    CookieStore::Global().Clear();
  }
  ~ProgramEnv() {
    if (oldBus_) {
      setenv(kBusVariable, oldBus_->c_str(), 1);
    } else {
      unsetenv(kBusVariable);
    }
    CookieStore::Global().Clear();
  }
  ProgramEnv(const ProgramEnv&) = delete;
  ProgramEnv& operator=(const ProgramEnv&) = delete;

  // Empty when everything started; else what did not.
  std::string problem() const {
    if (!bus_.ok()) return "no private bus or notification service";
    if (!sim_.ok()) return "the marketplace imitation did not start";
    if (!folder_.ok()) return folder_.error();
    return {};
  }

  NotificationBus& bus() { return bus_; }
  MarketSim& sim() { return sim_; }
  ShopFolder& folder() { return folder_; }
  ShopContext& shop() { return folder_.context(); }

 private:
  static constexpr const char* kBusVariable = "DBUS_SESSION_BUS_ADDRESS";

  NotificationBus bus_;
  std::optional<std::string> oldBus_;
  MarketSim sim_;
  ShopFolder folder_;
};

}  // namespace autodeliver::testing
