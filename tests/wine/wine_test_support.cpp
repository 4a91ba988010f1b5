// Test support for the Wine channel; see wine_test_support.h.
#include "wine_test_support.h"

#include <unistd.h>

#include <chrono>

#include "im/im_test_support.h"
#include "text/gbk.h"

namespace autodeliver::testing {

using namespace std::chrono_literals;

namespace {

std::string Loader() { return access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine64"; }

const char kClientProgram[] = "C:\\AliWangWang\\AliIM.exe";

}  // namespace

std::string TestPrefix() { return AUTODELIVER_WINE_PREFIX; }

std::string TestClientPath() { return "wine:" + TestPrefix() + "|" + kClientProgram; }

std::string WindowsPathOf(const std::string& linuxPath) {
  std::string path = "Z:" + linuxPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::vector<std::string> WineEnvironment(const std::string& instance) {
  return {"WINEPREFIX=" + TestPrefix(), "WINEDEBUG=-all", "LANG=C", "LC_ALL=C",
          "AUTODELIVER_IM_INSTANCE=" + instance};
}

std::unique_ptr<WineWindowSystem> TestHelper() {
  std::optional<WineHelperLaunch> launch = WineHelperFor(TestPrefix(), 64);
  if (!launch) return nullptr;
  launch->handledWait = 5s;
  return WineWindowSystem::Start(*launch);
}

WineImClient::WineImClient(std::string instance, std::string transcript, std::vector<std::string> extraArgs)
    : instance_(std::move(instance)), transcript_(std::move(transcript)), extraArgs_(std::move(extraArgs)) {}

WineImClient::~WineImClient() {
  if (pid_ <= 0) return;
  const int quit =
      WaitProcess(StartProcess({Loader(), kClientProgram, "--quit"}, WineEnvironment(instance_)), 20s);
  if (quit != 0 || WaitProcess(pid_, 20s) < 0) StopProcess(pid_);
}

std::string WineImClient::Start() {
  std::vector<std::string> argv = {Loader(), kClientProgram, "--transcript", WindowsPathOf(transcript_)};
  argv.insert(argv.end(), extraArgs_.begin(), extraArgs_.end());
  pid_ = StartProcess(argv, WineEnvironment(instance_));
  if (pid_ <= 0) return "the imitation could not be started";
  std::unique_ptr<WineWindowSystem> helper = TestHelper();
  if (!helper) return "no helper of the test's own";
  if (!WaitUntil([&] { return helper->FindTopLevel("AutodeliverImSimWin32", instance_) != 0; }, 60s)) {
    return "the Win32 IM client imitation did not come up";
  }
  return {};
}

}  // namespace autodeliver::testing
