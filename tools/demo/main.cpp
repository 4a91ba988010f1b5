// autodeliver-demo: runs the seller's main job through the program's real
// window against the local imitations and prints every step; see
// demo_flow.h and the README's run section.
//
//   autodeliver-demo --transcript FILE [--screenshots DIR] [--market HOST:PORT]
//
// The environment points the program at the imitations as for the program
// itself (AUTODELIVER_DIR, the host variables; the IM client imitation runs
// and is the aliim handler). The marketplace host defaults to
// AUTODELIVER_LOGIN_HOST. Exit code 0 when every order reached its expected
// fate, 1 otherwise, 2 on a usage error.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/application.h"
#include "app/login_browser.h"
#include "demo_flow.h"
#include "market/hosts.h"

int main(int argc, char** argv) {
  using namespace autodeliver;
  demo::DemoSettings settings;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--transcript") == 0 && hasValue) {
      settings.transcriptPath = argv[++i];
    } else if (std::strcmp(argv[i], "--screenshots") == 0 && hasValue) {
      settings.screenshotDir = QString::fromLocal8Bit(argv[++i]);
    } else if (std::strcmp(argv[i], "--market") == 0 && hasValue) {
      settings.marketHost = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: autodeliver-demo --transcript FILE [--screenshots DIR] [--market HOST:PORT]\n");
      return 2;
    }
  }
  if (settings.marketHost.empty()) settings.marketHost = LoginHost();
  if (settings.transcriptPath.empty()) {
    std::fprintf(stderr, "autodeliver-demo: --transcript is needed to see what the buyers received\n");
    return 2;
  }

  PrepareWebEngineEnvironment();
  QApplication app(argc, argv);
  SetProgramFont();
  demo::DemoFlow flow(settings, [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  const demo::DemoResult result = flow.Run(demo::DefaultScript(settings.marketHost));
  flow.Close();
  return result.AllAsExpected() ? 0 : 1;
}
