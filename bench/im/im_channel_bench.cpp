// One chat message through the IM client under Wine against the X11 path,
// in the same run and on the same X display:
//
//   X11:  the program's native channel (an X11 connection per message, the
//         client's command line started here) with the X11 IM client
//         imitation
//   Wine: the Wine channel (the Win32 helper kept for the session, the
//         command line started by the helper inside the prefix) with the
//         Win32 IM client imitation in a private prefix made for this run
//
// For each: the first message of a session, then the mean of the later
// ones, and in those the share of the command line's start (a new process
// per message on either side); the figure that matters is later Wine /
// later X11 (goal: within 2x).
// Every message goes the whole way: command line, search, text, Enter,
// close.
//
// Usage: im_channel_bench [messages]   (default 20; needs wine and, without
// $DISPLAY, Xvfb)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "im/wine_window_system.h"
#include "im_test_support.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
using bench::Clock;
namespace t = autodeliver::testing;

struct Figures {
  double firstMs = 0;
  double laterMs = 0;       // mean
  double laterStartMs = 0;  // mean of the command line's start and wait
  int failures = 0;
};

using bench::Ms;

// Times the start of the command line, which every message makes (it asks
// the client to open the chat window).
class TimedStarter final : public CommandStarter {
 public:
  explicit TimedStarter(CommandStarter& inner) : inner_(inner) {}
  void StartAndWait(const std::string& commandLine, std::chrono::milliseconds bound) override {
    const auto start = Clock::now();
    inner_.StartAndWait(commandLine, bound);
    spent += Clock::now() - start;
  }
  Clock::duration spent{};

 private:
  CommandStarter& inner_;
};

// `messages` messages, each to its own buyer, the way the program sends
// them: `session` gives the window system (and starter) of a message: a
// new X11 connection for each, or the Wine helper started by the first.
template <typename Session>
Figures Measure(const std::string& clientPath, int messages, Session session) {
  Figures figures;
  const std::string message = "您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK1001 卡密：pw-aa01\r\n"_gbk;
  double later = 0, laterStart = 0;
  for (int i = 0; i < messages; ++i) {
    const std::string buyer = Utf8ToGbkLossy("买家" + std::to_string(i));
    const auto start = Clock::now();
    auto [windows, starter] = session();
    if (windows == nullptr) {
      ++figures.failures;
      continue;
    }
    TimedStarter timed(*starter);
    ImSendOptions options(clientPath);
    options.windows = windows;
    options.starter = &timed;
    if (!SendImMessage("店铺A"_gbk, buyer, message, options)) ++figures.failures;
    const double ms = Ms(Clock::now() - start);
    if (i == 0) {
      figures.firstMs = ms;
    } else {
      later += ms;
      laterStart += Ms(timed.spent);
    }
  }
  if (messages > 1) {
    figures.laterMs = later / (messages - 1);
    figures.laterStartMs = laterStart / (messages - 1);
  }
  return figures;
}

int Run(int messages) {
  t::XServer server;
  if (std::getenv("DISPLAY") == nullptr) {
    const std::string error = server.Start();
    if (!error.empty()) {
      std::fprintf(stderr, "no X display: %s\n", error.c_str());
      return 1;
    }
    setenv("DISPLAY", server.display().c_str(), 1);
  }
  t::TempDir temp;
  const std::string instance = "im-bench-" + std::to_string(getpid());
  setenv("AUTODELIVER_IM_INSTANCE", instance.c_str(), 1);
  setenv("LANG", "C", 1);
  setenv("LC_ALL", "C", 1);

  // X11.
  pid_t x11Client = t::StartProcess({AUTODELIVER_IM_SIM});
  std::unique_ptr<WindowSystem> x11 = OpenX11WindowSystem(nullptr, 5s);
  if (x11Client <= 0 || !x11 ||
      !t::WaitUntil([&] { return x11->FindTopLevel("AutodeliverImSim", instance) != 0; }, 20s)) {
    std::fprintf(stderr, "the X11 IM client imitation did not come up\n");
    return 1;
  }
  std::unique_ptr<WindowSystem> x11Windows;
  SpawnCommandStarter spawn;
  const Figures x11Figures = Measure(AUTODELIVER_IM_SIM, messages, [&] {
    x11Windows = OpenX11WindowSystem(nullptr, 10s);
    return std::pair<WindowSystem*, CommandStarter*>(x11Windows.get(), &spawn);
  });
  x11Windows.reset();
  t::WaitProcess(t::StartProcess({AUTODELIVER_IM_SIM, "--quit"}), 10s);
  if (t::WaitProcess(x11Client, 10s) < 0) t::StopProcess(x11Client);

  // Wine: a private prefix for this run, not timed.
  const std::string prefix = temp.path() + "/wine-prefix";
  std::printf("making a private Wine prefix in %s ...\n", prefix.c_str());
  std::fflush(stdout);
  if (t::WaitProcess(t::StartProcess(
                         {"bash", AUTODELIVER_WINE_PREFIX_SCRIPT, "setup", prefix, AUTODELIVER_IM_SIM_WIN32}),
                     300s) != 0) {
    std::fprintf(stderr, "the Wine prefix could not be made\n");
    return 1;
  }
  const std::string loader = access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine64";
  const std::vector<std::string> wineEnv = {"WINEPREFIX=" + prefix, "WINEDEBUG=-all"};
  pid_t wineClient = t::StartProcess({loader, "C:\\AliWangWang\\AliIM.exe"}, wineEnv);
  std::optional<WineHelperLaunch> launch = WineHelperFor(prefix, 64);
  std::unique_ptr<WineWindowSystem> look = launch ? WineWindowSystem::Start(*launch) : nullptr;
  if (wineClient <= 0 || !look ||
      !t::WaitUntil([&] { return look->FindTopLevel("AutodeliverImSimWin32", instance) != 0; }, 60s)) {
    std::fprintf(stderr, "the Win32 IM client imitation did not come up\n");
    return 1;
  }
  std::unique_ptr<WineWindowSystem> helper;
  const Figures wineFigures = Measure("C:\\AliWangWang\\AliIM.exe", messages, [&] {
    if (!helper) helper = WineWindowSystem::Start(*launch);
    return std::pair<WindowSystem*, CommandStarter*>(helper.get(), helper.get());
  });
  helper.reset();
  look.reset();
  t::WaitProcess(t::StartProcess({loader, "C:\\AliWangWang\\AliIM.exe", "--quit"}, wineEnv), 20s);
  if (t::WaitProcess(wineClient, 20s) < 0) t::StopProcess(wineClient);
  t::WaitProcess(t::StartProcess({"bash", AUTODELIVER_WINE_PREFIX_SCRIPT, "cleanup", prefix}), 60s);

  std::printf("\none chat message, %d per channel (ms)\n", messages);
  std::printf("%-6s %10s %14s %22s %18s %8s\n", "path", "first", "later (mean)", "later: command line",
              "later: the rest", "failed");
  for (const auto& [name, f] : {std::pair<const char*, Figures>("X11", x11Figures), {"Wine", wineFigures}}) {
    std::printf("%-6s %10.1f %14.1f %22.1f %18.1f %8d\n", name, f.firstMs, f.laterMs, f.laterStartMs,
                f.laterMs - f.laterStartMs, f.failures);
  }
  std::printf("first Wine / first X11: %.2f\n", wineFigures.firstMs / x11Figures.firstMs);
  std::printf("later Wine / later X11: %.2f (goal: at most 2)\n", wineFigures.laterMs / x11Figures.laterMs);
  std::printf("  the command line's start alone (a new process per message): %.2f\n",
              wineFigures.laterStartMs / x11Figures.laterStartMs);
  std::printf(
      "  the rest alone (search, walk, text, Enter, close): %.2f\n",
      (wineFigures.laterMs - wineFigures.laterStartMs) / (x11Figures.laterMs - x11Figures.laterStartMs));
  return x11Figures.failures + wineFigures.failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  const int messages = argc > 1 ? std::atoi(argv[1]) : 20;
  return autodeliver::Run(messages > 0 ? messages : 20);
}
