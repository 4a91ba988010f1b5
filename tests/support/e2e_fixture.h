// The fixture of the end-to-end tests (tests/e2e, tests/wine): a fresh
// program folder made by the table tool as an installation makes it, the
// marketplace imitation on loopback, a name for this process's IM client
// imitation, and readers of what the buyers, the marketplace and the seller
// see afterwards: the IM client's transcript, the imitation's lists and the
// delivery log.
//
// Compiled into each end-to-end test (it needs AUTODELIVER_TABLE_TOOL and
// the demo flow).
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "delivery/market_sim_fixture.h"
#include "demo_flow.h"
#include "store/shop_context.h"
#include "support/temp_dir.h"

namespace autodeliver::testing {

class EndToEndTest : public ::testing::Test {
 protected:
  // `instancePrefix` tells this test's IM client imitation apart from
  // another process's ("<prefix>-<pid>").
  explicit EndToEndTest(const std::string& instancePrefix);

  // The program folder (AUTODELIVER_DIR points at it while the test runs),
  // AUTODELIVER_IM_INSTANCE, and the transcript's path.
  void SetUp() override;
  void TearDown() override;

  // Points each of these environment variables at a fresh folder of this
  // test (XDG_DATA_HOME, HOME...), so that nothing of the user's is read.
  void PrivateFolders(std::initializer_list<const char*> names);

  // The demo flow's settings against this test's imitations.
  demo::DemoSettings Settings(int stepTimeoutMs) const;
  // Prints a line of the demo flow at once.
  static void Print(const std::string& line);

  // The IM client's transcript as "seller|buyer|text" (UTF-8); each line's
  // GBK bytes are checked against its text. Empty when nothing was sent.
  std::vector<std::string> Transcript() const;
  // The values of `field` in the imitation's list `list` (its state, as
  // UTF-8): "orders", "consigned", "consignAttempts" (tradeId)...
  std::vector<std::string> SimList(const char* list, const char* field = "orderNumber") const;
  // How many times the order list was asked for.
  int OrderListRequests() const;
  // The delivery log of the program folder.
  std::string DeliveryLog() const;

  // The context of the program folder, made at SetUp: hand it to the demo
  // flow and read the tables through it.
  ShopContext& shop() { return *shop_; }

  TempDir temp_;
  MarketSim sim_;
  std::string programDir_, instance_, transcript_;
  std::unique_ptr<ShopContext> shop_;
};

}  // namespace autodeliver::testing
