// The Wine window system: the helper process, its pipe and the bounded
// answer waits; see wine_window_system.h.
#include "im/wine_window_system.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "im/win32_helper_protocol.h"

extern char** environ;

namespace autodeliver {
namespace {

namespace hp = helper_protocol;
using Clock = std::chrono::steady_clock;

// What a window operation may take beyond the helper's own bound: the pipe
// and the helper's bookkeeping.
constexpr std::chrono::milliseconds kPipeMargin{2000};

bool IsExecutable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs = path;
  size_t start = 0;
  for (;;) {
    size_t colon = dirs.find(':', start);
    std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty() && IsExecutable(dir + "/" + name)) return true;
    if (colon == std::string::npos) return false;
    start = colon + 1;
  }
}

std::string ProgramDir() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Writes all of `data`; a helper that went away gives false, never SIGPIPE.
bool WriteAll(int fd, const std::string& data) {
  sigset_t pipeOnly, old;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
  bool ok = true;
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (!ok) {
    // Take the SIGPIPE this thread raised before it is unblocked.
    timespec none{0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &none) > 0) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return ok;
}

// The environment with WINEPREFIX set to the client's prefix and Wine's
// debug output off unless the caller chose otherwise.
std::vector<std::string> HelperEnvironment(const std::string& prefix) {
  std::vector<std::string> env;
  bool debugSet = false;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "WINEPREFIX=", 11) == 0) continue;
    if (std::strncmp(*e, "WINEDEBUG=", 10) == 0) debugSet = true;
    env.emplace_back(*e);
  }
  env.push_back("WINEPREFIX=" + prefix);
  if (!debugSet) env.emplace_back("WINEDEBUG=-all");
  return env;
}

}  // namespace

std::optional<WineHelperLaunch> WineHelperFor(const std::string& prefixUtf8, int bits) {
  if (bits != 32) bits = 64;
  const std::string name = std::string("autodeliver-imhelper") + (bits == 64 ? "64" : "32") + ".exe";
  std::vector<std::string> dirs;
  if (const char* dir = std::getenv("AUTODELIVER_IMHELPER_DIR")) dirs.emplace_back(dir);
  const std::string programDir = ProgramDir();
  if (!programDir.empty()) {
    dirs.push_back(programDir);
    dirs.push_back(programDir + "/../lib/autodeliver");
  }
#ifdef AUTODELIVER_IMHELPER_BUILD_DIR
  dirs.emplace_back(AUTODELIVER_IMHELPER_BUILD_DIR);
#endif
  WineHelperLaunch launch;
  launch.prefix = prefixUtf8;
  for (const std::string& dir : dirs) {
    if (!dir.empty() && IsFile(dir + "/" + name)) {
      launch.helper = dir + "/" + name;
      break;
    }
  }
  if (launch.helper.empty()) return std::nullopt;
  if (const char* loader = std::getenv("AUTODELIVER_WINE"); loader != nullptr && *loader != '\0') {
    launch.loader = loader;
  } else if (bits == 64) {
    launch.loader = IsExecutable("/usr/lib/wine/wine64") ? "/usr/lib/wine/wine64"
                    : OnPath("wine64")                   ? "wine64"
                                                         : "wine";
  } else {
    launch.loader = "wine";
  }
  return launch;
}

std::unique_ptr<WineWindowSystem> WineWindowSystem::Start(const WineHelperLaunch& launch,
                                                          std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return nullptr;
  };
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return fail("no pipe");
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return fail("no pipe");
  }
  std::vector<std::string> args = {launch.loader, launch.helper, hp::kHandledOption,
                                   std::to_string(launch.handledWait.count())};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = HelperEnvironment(launch.prefix);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    return fail("cannot start " + launch.loader + ": " + std::strerror(rc));
  }
  std::unique_ptr<WineWindowSystem> helper(new WineWindowSystem(launch, pid, in[1], out[0]));
  std::optional<std::string> ready = helper->ReadLine(launch.startWait);
  std::vector<std::string> fields = ready ? hp::SplitFields(*ready) : std::vector<std::string>{};
  if (fields.size() != 2 || fields[0] != hp::kReady) {
    helper->Stop(false);
    return fail(ready ? "unexpected first line from the helper: " + *ready
                      : "the helper did not come up within the start bound");
  }
  helper->bits_ = std::atoi(fields[1].c_str());
  return helper;
}

WineWindowSystem::WineWindowSystem(const WineHelperLaunch& launch, pid_t pid, int toHelper, int fromHelper)
    : launch_(launch), pid_(pid), toHelper_(toHelper), fromHelper_(fromHelper) {}

WineWindowSystem::~WineWindowSystem() {
  if (pid_ > 0) WriteAll(toHelper_, std::string(hp::kQuit) + "\n");
  Stop(true);
}

void WineWindowSystem::Stop(bool graceful) {
  if (toHelper_ >= 0) close(toHelper_);
  toHelper_ = -1;
  if (pid_ > 0) {
    // The helper ends at QUIT or at the end of its stdin; one that does not
    // within the bound, or one that missed an answer, is killed.
    const auto deadline = Clock::now() + (graceful ? std::chrono::seconds(3) : std::chrono::seconds(0));
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    for (;;) {
      pid_t done = waitpid(pid_, nullptr, WNOHANG);
      if (done == pid_ || (done < 0 && errno != EINTR)) break;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 || pidfd < 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        break;
      }
      pollfd fd{pidfd, POLLIN, 0};
      poll(&fd, 1, static_cast<int>(left.count()) + 1);
    }
    if (pidfd >= 0) close(pidfd);
  }
  pid_ = -1;
  if (fromHelper_ >= 0) close(fromHelper_);
  fromHelper_ = -1;
}

std::optional<std::string> WineWindowSystem::ReadLine(std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  for (;;) {
    size_t eol = buffered_.find('\n');
    if (eol != std::string::npos) {
      std::string line = buffered_.substr(0, eol);
      buffered_.erase(0, eol + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || fromHelper_ < 0) return std::nullopt;
    pollfd fd{fromHelper_, POLLIN, 0};
    int ready = poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)) + 1);
    if (ready < 0 && errno != EINTR) return std::nullopt;
    if (ready <= 0) continue;
    char chunk[4096];
    ssize_t n = read(fromHelper_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;  // the helper ended
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

std::optional<std::string> WineWindowSystem::Ask(const std::string& request,
                                                 std::chrono::milliseconds bound) {
  if (pid_ <= 0) return std::nullopt;
  std::optional<std::string> answer;
  if (WriteAll(toHelper_, request + "\n")) answer = ReadLine(bound);
  if (!answer) Stop(false);
  return answer;
}

WindowId WineWindowSystem::AnswerHandle(const std::optional<std::string>& answer) {
  if (!answer) return 0;
  std::vector<std::string> fields = hp::SplitFields(*answer);
  unsigned long long handle = 0;
  if (fields.size() != 2 || fields[0] != hp::kOk || !hp::ParseNumberField(fields[1], &handle)) return 0;
  return handle;
}

bool WineWindowSystem::Ping() {
  return Ask(hp::kPing, launch_.handledWait + kPipeMargin) == std::string(hp::kOk);
}

WindowId WineWindowSystem::FindTopLevel(const std::string& className, const std::string& title) {
  return AnswerHandle(Ask(std::string(hp::kFind) + " " + hp::ToHex(className) + " " + hp::ToHex(title),
                          launch_.handledWait + kPipeMargin));
}

WindowId WineWindowSystem::Related(WindowId window, WindowRelation relation) {
  if (window == 0) return 0;
  const char* which = relation == WindowRelation::kFirstChild ? hp::kChild : hp::kNext;
  return AnswerHandle(Ask(std::string(hp::kRelated) + " " + hp::NumberField(window) + " " + which,
                          launch_.handledWait + kPipeMargin));
}

bool WineWindowSystem::SetText(WindowId window, const std::string& text) {
  if (window == 0) return false;
  return Ask(std::string(hp::kSetText) + " " + hp::NumberField(window) + " " + hp::ToHex(text),
             launch_.handledWait + kPipeMargin) == std::string(hp::kOk);
}

bool WineWindowSystem::PressEnter(WindowId window) {
  if (window == 0) return false;
  // Two messages, each with the helper's bound.
  return Ask(std::string(hp::kEnter) + " " + hp::NumberField(window),
             2 * launch_.handledWait + kPipeMargin) == std::string(hp::kOk);
}

bool WineWindowSystem::Close(WindowId window) {
  if (window == 0) return false;
  return Ask(std::string(hp::kClose) + " " + hp::NumberField(window), launch_.handledWait + kPipeMargin) ==
         std::string(hp::kOk);
}

void WineWindowSystem::StartAndWait(const std::string& commandLine, std::chrono::milliseconds bound) {
  Ask(std::string(hp::kStart) + " " + hp::NumberField(static_cast<unsigned long long>(bound.count())) + " " +
          hp::ToHex(commandLine),
      bound + launch_.handledWait + kPipeMargin);
}

}  // namespace autodeliver
