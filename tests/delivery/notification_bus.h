// A private session D-Bus with the recording notification service
// (autodeliver-notify-sim) on it, for one test: the bus daemon is started
// with the session configuration and prints its address; the service
// prints "ready" once it owns org.freedesktop.Notifications and then one
// JSON line per notification. Nothing of the machine's own session is
// touched. Both processes are started without a shell and ended (SIGTERM,
// then waited for) when the fixture goes; every read is bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace autodeliver::testing {

// A child process whose standard output is read line by line.
class ChildWithOutput {
 public:
  ChildWithOutput(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> argStore = args;
    std::vector<char*> argv;
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      bool replaced = false;
      for (const std::string& extra : extraEnv) {
        if (entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0) replaced = true;
      }
      if (!replaced) envStore.push_back(entry);
    }
    for (const std::string& extra : extraEnv) envStore.push_back(extra);
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argStore[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      pid_ = -1;
      close(out[0]);
      return;
    }
    fd_ = out[0];
  }
  ~ChildWithOutput() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  ChildWithOutput(const ChildWithOutput&) = delete;
  ChildWithOutput& operator=(const ChildWithOutput&) = delete;

  bool started() const { return pid_ > 0; }

  // The next line of output (without its line break), waiting at most
  // `bound`; nullopt when none came.
  std::optional<std::string> NextLine(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (fd_ < 0 || left.count() <= 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;  // the child ended
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string buffer_;
};

class NotificationBus {
 public:
  static constexpr std::chrono::milliseconds kBound{20000};

  // `markup`: the service says it understands markup in the body.
  explicit NotificationBus(bool markup = false, bool withService = true)
      : daemon_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}, {}) {
    const std::optional<std::string> address = daemon_.NextLine(kBound);
    if (!address || address->empty()) return;
    address_ = *address;
    if (!withService) return;
    std::vector<std::string> args = {std::string(AUTODELIVER_BINARY_DIR) +
                                     "/tools/notify_sim/autodeliver-notify-sim"};
    if (markup) args.push_back("--markup");
    service_.emplace(args, std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + address_});
    ready_ = service_->NextLine(kBound) == std::optional<std::string>("ready");
  }

  bool ok() const { return !address_.empty() && (ready_ || !service_); }
  const std::string& address() const { return address_; }

  // The next notification the service recorded (a JSON line), or nullopt
  // when none came within `bound`.
  std::optional<std::string> NextNotification(std::chrono::milliseconds bound = kBound) {
    return service_ ? service_->NextLine(bound) : std::nullopt;
  }

 private:
  ChildWithOutput daemon_;
  std::optional<ChildWithOutput> service_;
  std::string address_;
  bool ready_ = false;
};

}  // namespace autodeliver::testing
