// The alert tests' local peers: a throw-away certificate for 127.0.0.1
// made by openssl, the webhook imitation (tools/alert_sim/webhook_sim.py)
// over HTTPS or HTTP, and the mail server (tools/alert_sim/mail_sim.py,
// aiosmtpd) with STARTTLS and a login. Each runs without a shell on a free
// loopback port that it prints first (support/child_process.h).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

extern char** environ;

namespace autodeliver::testing {

inline int RunQuietly(std::vector<std::string> args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A self-signed certificate for IP 127.0.0.1 in `dir` (cert.pem, key.pem).
inline bool MakeTestCertificate(const std::filesystem::path& dir) {
  return RunQuietly({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                     "-nodes", "-keyout", (dir / "key.pem").string(), "-out", (dir / "cert.pem").string(),
                     "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-days", "2"}) == 0;
}

class LocalServer {
 public:
  // `script` under tools/alert_sim, run by Debian's python3.
  LocalServer(const std::string& script, std::vector<std::string> args)
      : child_(Command(script, std::move(args))) {
    const std::optional<std::string> line = child_.NextLine(kServerStartBound);
    if (line && line->rfind("port ", 0) == 0) port_ = std::atoi(line->c_str() + 5);
    child_.CloseOutput();
  }

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }

 private:
  static std::vector<std::string> Command(const std::string& script, std::vector<std::string> args) {
    args.insert(args.begin(), {std::string(SYSTEM_PYTHON3),
                               std::string(AUTODELIVER_SOURCE_DIR) + "/tools/alert_sim/" + script});
    return args;
  }

  ChildWithOutput child_;
  int port_ = 0;
};

// The whole of a file; empty when it cannot be read.
inline std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One request as the webhook imitation recorded it.
struct RecordedRequest {
  std::string method;
  std::string target;  // path and query
  std::string contentType;
  std::string body;
};

// The requests recorded in `folder` so far, in the order they came.
inline std::vector<RecordedRequest> RecordedRequests(const std::filesystem::path& folder) {
  std::vector<RecordedRequest> out;
  for (int n = 1;; ++n) {
    const std::filesystem::path file = folder / (std::to_string(n) + ".req");
    if (!std::filesystem::exists(file)) break;
    const std::string text = FileText(file);
    RecordedRequest r;
    const std::size_t space = text.find(' ');
    const std::size_t line1 = text.find('\n');
    const std::size_t line2 = text.find('\n', line1 + 1);
    r.method = text.substr(0, space);
    r.target = text.substr(space + 1, line1 - space - 1);
    r.contentType = text.substr(line1 + 15, line2 - line1 - 15);  // after "Content-Type: "
    r.body = text.substr(line2 + 2);
    out.push_back(r);
  }
  return out;
}

}  // namespace autodeliver::testing
