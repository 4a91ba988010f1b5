#include "im_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace autodeliver::testing {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, int keepFd) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& extra : extraEnv) {
      replaced = replaced || entry.substr(0, entry.find('=') + 1) == extra.substr(0, extra.find('=') + 1);
    }
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> args, envp;
  std::vector<std::string> argCopy = argv;
  for (std::string& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (std::getenv("AUTODELIVER_IM_TEST_VERBOSE") == nullptr) {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, keepFd >= 0 ? keepFd + 1 : 3);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

}  // namespace

pid_t StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
  return Spawn(argv, extraEnv, -1);
}

int WaitProcess(pid_t pid, std::chrono::milliseconds bound) {
  int status = 0;
  pid_t done = 0;
  WaitUntil([&] { return (done = waitpid(pid, &status, WNOHANG)) != 0; }, bound);
  if (done != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (WaitProcess(pid, std::chrono::seconds(5)) < 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

XServer::~XServer() { StopProcess(pid_); }

std::string XServer::Start() {
  int fds[2];
  if (pipe2(fds, 0) != 0) return "no pipe";
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  // Keep the write end at a known number above the standard three.
  int writeFd = fcntl(fds[1], F_DUPFD, 10);
  close(fds[1]);
  pid_ =
      Spawn({"Xvfb", "-displayfd", std::to_string(writeFd), "-nolisten", "tcp", "-screen", "0", "800x600x24"},
            {}, writeFd);
  close(writeFd);
  if (pid_ < 0) {
    close(fds[0]);
    const char* shared = std::getenv("DISPLAY");
    if (shared == nullptr || *shared == '\0') return "Xvfb is not installed and DISPLAY is not set";
    display_ = shared;
    return {};
  }
  std::string number;
  pollfd fd{fds[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    if (poll(&fd, 1, 200) <= 0) continue;
    char buf[32];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) return "Xvfb did not report its display";
  display_ = ":" + number.substr(0, number.find('\n'));
  return {};
}

void WriteFile(const std::string& path, const std::string& content, bool executable) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
  if (executable) {
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
  }
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string JsonField(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  size_t at = line.find(key);
  if (at == std::string::npos) return {};
  std::string out;
  for (size_t i = at + key.size(); i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\' || i + 1 >= line.size()) {
      out += line[i];
      continue;
    }
    char c = line[++i];
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
  }
  return out;
}

}  // namespace autodeliver::testing
