// Test support for the Wine channel: the shared test prefix (made by the
// wine_prefix fixture, tests/wine/wine_prefix.sh), the Win32 IM client
// imitation running in it, and a helper of the test's own to look at the
// imitation's windows.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "im/wine_window_system.h"

namespace autodeliver::testing {

// The shared prefix of this test run (its Linux folder).
std::string TestPrefix();

// The stored client path of the imitation in the test prefix.
std::string TestClientPath();

// The Windows name of a Linux path (through Z:).
std::string WindowsPathOf(const std::string& linuxPath);

// The environment entries every Wine process of the tests gets: the test
// prefix, a non-Chinese locale, no debug output.
std::vector<std::string> WineEnvironment(const std::string& instance);

// A helper of the test's own in the test prefix (64-bit); null when it does
// not come up.
std::unique_ptr<WineWindowSystem> TestHelper();

// The Win32 IM client imitation, running in the test prefix for one test.
class WineImClient {
 public:
  // `instance` tells test processes apart; `extraArgs` such as --no-window.
  WineImClient(std::string instance, std::string transcript, std::vector<std::string> extraArgs = {});
  ~WineImClient();
  // Empty when the client is up (its control window exists), else why not.
  std::string Start();

 private:
  std::string instance_, transcript_;
  std::vector<std::string> extraArgs_;
  pid_t pid_ = -1;
};

}  // namespace autodeliver::testing
