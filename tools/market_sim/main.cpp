// autodeliver-market-sim: serves the marketplace and maker's service
// imitation on 127.0.0.1 until SIGINT or SIGTERM. See README.md beside
// this file.
#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "sim_server.h"
#include "sim_state.h"
#include "text/gbk.h"

namespace {

constexpr const char* kUsage =
    "usage: autodeliver-market-sim [--port N] [--account NICK:PASSWORD]... [--state FILE]\n"
    "                              [--page-size N] [--order-base N] [--verbose]\n";

bool ReadNumber(const char* text, unsigned long long max, unsigned long long* value) {
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace autodeliver::sim;
  unsigned long long port = 8080, pageSize = 15;
  unsigned long long orderBase = static_cast<unsigned long long>(std::time(nullptr)) * 1000ULL;
  std::vector<Account> accounts;
  std::string stateFile;
  bool verbose = false;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    const char* value = hasValue ? argv[i + 1] : "";
    if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!hasValue) {
      std::fprintf(stderr, "%s needs a value\n%s", arg.c_str(), kUsage);
      return 2;
    } else if (arg == "--port" && ReadNumber(value, 65535, &port)) {
      ++i;
    } else if (arg == "--page-size" && ReadNumber(value, 1000, &pageSize) && pageSize > 0) {
      ++i;
    } else if (arg == "--order-base" && ReadNumber(value, 1000000000000000000ULL, &orderBase)) {
      ++i;
    } else if (arg == "--state") {
      stateFile = value;
      ++i;
    } else if (arg == "--account") {
      std::string text = value;
      std::size_t colon = text.find(':');
      auto nick = autodeliver::Utf8ToGbk(colon == std::string::npos ? "" : text.substr(0, colon));
      std::string why = nick ? CheckPageText(*nick, "nick") : "nick is not UTF-8 text that GBK can hold";
      if (colon == std::string::npos || !why.empty()) {
        std::fprintf(stderr, "--account %s: %s\n", value,
                     colon == std::string::npos ? "no ':'" : why.c_str());
        return 2;
      }
      accounts.push_back({*nick, text.substr(colon + 1)});
      ++i;
    } else {
      std::fprintf(stderr, "bad argument: %s %s\n%s", arg.c_str(), value, kUsage);
      return 2;
    }
  }
  if (accounts.empty()) accounts.push_back({"测试卖家"_gbk, "sim123"});

  SimState state(accounts, orderBase, stateFile);
  std::string error;
  if (!state.Load(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  // SIGINT and SIGTERM are taken by sigwait below; block them before the
  // server's threads start so none of them gets the signal.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  SimServer server(state, {static_cast<int>(pageSize), verbose});
  if (!server.Start(static_cast<int>(port))) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1:%llu\n", port);
    return 1;
  }
  int p = server.port();
  std::printf("listening 127.0.0.1:%d\n", p);
  for (const auto& a : accounts) {
    std::printf("account %s password %s\n", autodeliver::GbkToUtf8Lossy(a.nick).c_str(), a.password.c_str());
  }
  std::printf(
      "sign in:  http://127.0.0.1:%d/\nbuyer:    http://127.0.0.1:%d/buyer.htm\n"
      "orders:   http://127.0.0.1:%d/user/order_list_new.htm\nstate:    http://127.0.0.1:%d/_sim/state\n",
      p, p, p, p);
  std::printf(
      "export AUTODELIVER_LOGIN_HOST=127.0.0.1:%d AUTODELIVER_MEMBER_HOST=127.0.0.1:%d "
      "AUTODELIVER_LOGISTICS_HOST=127.0.0.1:%d AUTODELIVER_WEB_HOST=127.0.0.1:%d "
      "AUTODELIVER_SERVICE_HOST=127.0.0.1:%d AUTODELIVER_LOGIN_SCHEME=http\n",
      p, p, p, p, p);
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.Stop();
  return 0;
}
