// autodeliver-market-sim: serves the marketplace and maker's service
// imitation on 127.0.0.1 until SIGINT or SIGTERM. See README.md beside
// this file.
#include <pthread.h>

#include <CLI/CLI.hpp>
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

// A numeric option read in decimal only (a leading 0 is no octal prefix),
// from `min` to `max`.
template <typename T>
CLI::Option* AddDecimal(CLI::App& app, const std::string& name, T& value, unsigned long long min,
                        unsigned long long max, const std::string& help) {
  auto read = [&value, name, min, max](const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || text[0] == '-' || v < min || v > max) {
      throw CLI::ValidationError(name, "value " + text + " is no decimal number from " + std::to_string(min) +
                                           " to " + std::to_string(max));
    }
    value = static_cast<T>(v);
  };
  return app.add_option_function<std::string>(name, read, help)
      ->type_name("N")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace autodeliver::sim;
  int port = 8080, pageSize = 15;
  unsigned long long orderBase = static_cast<unsigned long long>(std::time(nullptr)) * 1000ULL;
  std::vector<std::string> accountTexts;
  std::string stateFile;
  bool verbose = false;

  CLI::App app{
      "Serves the marketplace and maker's service imitation on 127.0.0.1 until SIGINT or SIGTERM.\n"
      "The first line on standard output is \"listening 127.0.0.1:PORT\". Exit status 2 for a usage "
      "error, 1 when the state cannot be loaded or the port taken.",
      "autodeliver-market-sim"};
  AddDecimal(app, "--port", port, 0, 65535, "Port on 127.0.0.1; 0 picks a free one (default 8080)");
  app.add_option("--account", accountTexts,
                 "A seller account (UTF-8), repeatable; the first is the default seller for new orders. "
                 "Without any: 测试卖家:sim123")
      ->type_name("NICK:PASSWORD");
  app.add_option("--state", stateFile,
                 "Load the state from FILE at start (when it exists) and rewrite it after every change")
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  AddDecimal(app, "--page-size", pageSize, 1, 100000, "Orders per page of the order list (default 15)");
  AddDecimal(app, "--order-base", orderBase, 0, 1000000000000000000ULL,
             "Order numbers are N+1, N+2, ... (default: seconds since 1970 times 1000)");
  app.add_flag("--verbose", verbose, "One line per request on standard error");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  std::vector<Account> accounts;
  for (const std::string& text : accountTexts) {
    std::size_t colon = text.find(':');
    auto nick = autodeliver::Utf8ToGbk(colon == std::string::npos ? "" : text.substr(0, colon));
    std::string why = nick ? CheckPageText(*nick, "nick") : "nick is not UTF-8 text that GBK can hold";
    if (colon == std::string::npos || !why.empty()) {
      std::fprintf(stderr, "--account %s: %s\n", text.c_str(),
                   colon == std::string::npos ? "no ':'" : why.c_str());
      return 2;
    }
    accounts.push_back({*nick, text.substr(colon + 1)});
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

  SimServer server(state, {pageSize, verbose});
  if (!server.Start(port)) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", port);
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
