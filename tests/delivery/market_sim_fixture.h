// Runs the marketplace imitation (autodeliver-market-sim) on a free
// loopback port for one test, points the program's host configuration at
// it, and offers the few calls the tests make to its test endpoints.
//
// The imitation is started without a shell (support/child_process.h); its
// first output line names the port.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "http/http_request.h"
#include "http/url.h"
#include "support/child_process.h"

namespace autodeliver::testing {

// Every string value of `key` in a JSON text, in order (enough for the flat
// records of the imitation's state; escapes other than \" and \\ are kept).
inline std::vector<std::string> JsonStrings(const std::string& json, const std::string& key) {
  std::vector<std::string> values;
  const std::string needle = "\"" + key + "\"";
  for (std::size_t at = json.find(needle); at != std::string::npos; at = json.find(needle, at + 1)) {
    std::size_t i = at + needle.size();
    while (i < json.size() && (json[i] == ' ' || json[i] == '\n')) ++i;
    if (i >= json.size() || json[i] != ':') continue;
    ++i;
    while (i < json.size() && (json[i] == ' ' || json[i] == '\n')) ++i;
    if (i >= json.size() || json[i] != '"') continue;
    std::string value;
    for (++i; i < json.size() && json[i] != '"'; ++i) {
      if (json[i] == '\\' && i + 1 < json.size()) ++i;
      value += json[i];
    }
    values.push_back(value);
  }
  return values;
}

class MarketSim {
 public:
  // `extra`: more options for the imitation (its accounts, its order numbers).
  explicit MarketSim(const std::vector<std::string>& extra = {}) : child_(Command(extra)) {
    // "listening 127.0.0.1:PORT"
    const std::string line = child_.NextLine(kServerStartBound).value_or(std::string());
    const std::string prefix = "listening 127.0.0.1:";
    const std::size_t at = line.find(prefix);
    if (at == std::string::npos) return;
    port_ = std::atoi(line.c_str() + at + prefix.size());
    host_ = "127.0.0.1:" + std::to_string(port_);
    for (const char* v : {"AUTODELIVER_LOGIN_HOST", "AUTODELIVER_MEMBER_HOST", "AUTODELIVER_LOGISTICS_HOST",
                          "AUTODELIVER_WEB_HOST", "AUTODELIVER_SERVICE_HOST"}) {
      setenv(v, host_.c_str(), 1);
    }
    setenv("AUTODELIVER_LOGIN_SCHEME", "http", 1);
  }

  bool ok() const { return port_ > 0; }
  const std::string& host() const { return host_; }
  std::string Url(const std::string& path) const { return "http://" + host_ + path; }

  // GET of a test endpoint with UTF-8 parameters.
  std::string Call(const std::string& path, const std::map<std::string, std::string>& params = {}) const {
    std::string query;
    for (const auto& [k, v] : params) query += (query.empty() ? "?" : "&") + k + "=" + PercentEncode(v);
    return HttpRequest(Url(path + query), "GET", {}, "x=1");
  }
  std::string Post(const std::string& path) const { return HttpRequest(Url(path), "POST", "x=1", "x=1"); }
  std::string State() const { return Call("/_sim/state"); }

  // Signs the demo seller in; the session cookie lands in the process
  // cookie store, as the login browser would leave it.
  bool SignIn() const {
    const std::string body = "TPL_username=" + PercentEncode("测试卖家") + "&TPL_password=sim123";
    HttpRequest(Url("/member/login.jhtml"), "POST", body);
    return true;
  }

 private:
  static std::vector<std::string> Command(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {
        std::string(AUTODELIVER_BINARY_DIR) + "/tools/market_sim/autodeliver-market-sim", "--port", "0"};
    if (std::find(extra.begin(), extra.end(), "--order-base") == extra.end()) {
      args.push_back("--order-base");
      args.push_back("5000");
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  ChildWithOutput child_;
  int port_ = 0;
  std::string host_;
};

}  // namespace autodeliver::testing
