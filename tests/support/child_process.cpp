// A test's child process with its output read by lines; see child_process.h.
#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace autodeliver::testing {

ChildWithOutput::ChildWithOutput(const std::vector<std::string>& args,
                                 const std::vector<std::string>& extraEnv) {
  if (args.empty()) return;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
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

ChildWithOutput::~ChildWithOutput() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  CloseOutput();
}

std::optional<std::string> ChildWithOutput::NextLine(std::chrono::milliseconds bound) {
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

void ChildWithOutput::CloseOutput() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace autodeliver::testing
