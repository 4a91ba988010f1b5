// The IM message sender: command line, process start with a bounded wait,
// the search for the chat window's input box, and the hand-over of the text.
#include "im/im_sender.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "text/gbk.h"

extern char** environ;

namespace autodeliver {
namespace {

using Clock = std::chrono::steady_clock;

const char kChatWindowClass[] = "StandardFrame";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The arguments after the program name, by the C runtime's rules.
std::vector<std::string> SplitArguments(const std::string& text, size_t p) {
  std::vector<std::string> args;
  const size_t n = text.size();
  for (;;) {
    while (p < n && IsBlank(text[p])) ++p;
    if (p >= n) break;
    std::string arg;
    bool inQuote = false;
    for (;;) {
      bool copy = true;
      size_t slashes = 0;
      while (p < n && text[p] == '\\') {
        ++p;
        ++slashes;
      }
      if (p < n && text[p] == '"') {
        if (slashes % 2 == 0) {
          if (inQuote && p + 1 < n && text[p + 1] == '"') {
            ++p;  // "" inside quotes: one literal quote
          } else {
            copy = false;
            inQuote = !inQuote;
          }
        }
        slashes /= 2;
      }
      arg.append(slashes, '\\');
      if (p >= n || (!inQuote && IsBlank(text[p]))) break;
      if (copy) arg += text[p];
      ++p;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

// The program name at the start of a command line: quotes toggle and are
// removed, backslashes are plain, unquoted white space ends it. Returns the
// position after it.
size_t ProgramName(const std::string& text, std::string* name) {
  size_t p = 0;
  bool inQuote = false;
  while (p < text.size() && (inQuote || !IsBlank(text[p]))) {
    if (text[p] == '"') {
      inQuote = !inQuote;
    } else {
      *name += text[p];
    }
    ++p;
  }
  return p;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// The program and its arguments for a command line. An unquoted program
// name may contain spaces: as Windows does, each prefix ending before a
// space is tried in turn, shortest first, and the first that names an
// executable file is the program.
std::vector<std::string> ResolveCommandLine(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] != '"') {
    for (size_t p = commandLine.find(' '); p != std::string::npos; p = commandLine.find(' ', p + 1)) {
      std::string candidate = commandLine.substr(0, p);
      if (candidate.find('\t') != std::string::npos) break;
      if (IsExecutableFile(candidate)) {
        std::vector<std::string> argv = SplitArguments(commandLine, p);
        argv.insert(argv.begin(), candidate);
        return argv;
      }
    }
  }
  return SplitCommandLine(commandLine);
}

std::string ToUtf8(const std::string& gbk) {
  if (auto utf8 = GbkToUtf8(gbk)) return *utf8;
  return GbkToUtf8Lossy(gbk);
}

// Waits up to `bound` for `pid` to end. A program still running after that
// is left alone and reaped by a detached thread when it ends.
void WaitBounded(pid_t pid, std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  for (;;) {
    pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
      }).detach();
      break;
    }
    if (pidfd >= 0) {
      pollfd fd{pidfd, POLLIN, 0};
      poll(&fd, 1, static_cast<int>(left.count()) + 1);
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
  if (pidfd >= 0) close(pidfd);
}

// Starts the command line without a shell and with no descriptor beyond the
// standard three, then waits for the program with a bound. A program that
// cannot be started is not an error here: the chat window may be open
// already.
void StartAndWait(const std::string& commandLineUtf8, std::chrono::milliseconds bound) {
  std::vector<std::string> args = ResolveCommandLine(commandLineUtf8);
  if (args.empty() || args[0].empty()) return;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) WaitBounded(pid, bound);
}

// The end of the walk from the chat window, or 0.
WindowId WalkToInputBox(WindowSystem& windows, WindowId chat) {
  WindowId at = chat;
  for (WindowRelation step : kInputBoxWalk) {
    if (at == 0) return 0;
    at = windows.Related(at, step);
  }
  return at;
}

}  // namespace

void SpawnCommandStarter::StartAndWait(const std::string& commandLine, std::chrono::milliseconds bound) {
  autodeliver::StartAndWait(ToUtf8(commandLine), bound);
}

std::string ImCommandLine(const std::string& clientPath, const std::string& sellerNick,
                          const std::string& buyerNick) {
  return clientPath + " aliim:sendmsg?uid=cntaobao" + sellerNick + "&touid=cntaobao" + buyerNick;
}

std::string ImChatTitle(const std::string& sellerNick, const std::string& buyerNick) {
  return buyerNick + " - " + sellerNick;
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  if (commandLine.empty()) return {};
  std::string program;
  size_t p = ProgramName(commandLine, &program);
  std::vector<std::string> argv = SplitArguments(commandLine, p);
  argv.insert(argv.begin(), program);
  return argv;
}

bool SendImMessage(const std::string& sellerNick, const std::string& buyerNick, const std::string& message,
                   const ImSendOptions& options) {
  const ImSendBounds& bounds = options.bounds;
  SpawnCommandStarter spawn;
  CommandStarter& starter = options.starter != nullptr ? *options.starter : spawn;
  starter.StartAndWait(ImCommandLine(options.clientPath, sellerNick, buyerNick), bounds.programWait);

  std::unique_ptr<WindowSystem> own;
  WindowSystem* windows = options.windows;
  if (windows == nullptr) {
    own = OpenX11WindowSystem(nullptr, bounds.handledWait);
    windows = own.get();
  }
  if (windows == nullptr) return false;

  const std::string title = ImChatTitle(sellerNick, buyerNick);
  const auto deadline = Clock::now() + bounds.searchTimeout;
  WindowId inputBox = 0;
  for (;;) {
    inputBox = WalkToInputBox(*windows, windows->FindTopLevel(kChatWindowClass, title));
    if (inputBox != 0) break;
    const Clock::duration left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(left, bounds.searchPause));
  }

  // Enter is pressed only over our own text: a box whose text was not set
  // may hold anything.
  const bool sent = windows->SetText(inputBox, message) && windows->PressEnter(inputBox);
  WindowId chat = windows->FindTopLevel(kChatWindowClass, title);
  if (chat != 0) windows->Close(chat);
  return sent;
}

std::string ImClientProgram(const std::string& clientPath) {
  if (clientPath.empty()) return std::string();
  // The program of a message's command line: the path followed by the
  // request, so that a path with spaces resolves the same way.
  const std::vector<std::string> args = ResolveCommandLine(ToUtf8(clientPath) + " aliim:");
  if (args.empty() || args[0].empty()) return std::string();
  const std::string& program = args[0];
  if (program.find('/') != std::string::npos) return IsExecutableFile(program) ? program : std::string();
  // A bare name is looked up on PATH, as the start of the process does.
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t from = 0; from <= dirs.size();) {
    size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    const std::string candidate = (to > from ? dirs.substr(from, to - from) : ".") + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
    from = to + 1;
  }
  return std::string();
}

}  // namespace autodeliver
