// The target list and the helpers the targets share; see fuzz_targets.h.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "fuzz_targets.h"
#include "http/http_request.h"

namespace autodeliver::fuzz {

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = {
      {"table_file", &FuzzTableFile},         {"order_page", &FuzzOrderPage},
      {"service_answer", &FuzzServiceAnswer}, {"ini_file", &FuzzIniFile},
      {"card_import", &FuzzCardImport},       {"card_mdb", &FuzzCardMdb},
      {"http_answer", &FuzzHttpAnswer},
  };
  return targets;
}

const std::string& ScratchDir() {
  // Never destroyed: the handler that removes the folder at exit runs after
  // the static objects are gone.
  static const std::string* const dir = [] {
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    const std::filesystem::path path = base / ("autodeliver-fuzz-" + std::to_string(getpid()));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    auto* kept = new std::string(path.string());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return kept;
  }();
  return *dir;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Require(static_cast<bool>(out), "scratch file written");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

namespace {

std::mutex g_answersMutex;
std::deque<std::string> g_answers;  // guarded by g_answersMutex

// Waits up to `ms` for `fd` to become readable.
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

void ServeConnection(int fd) {
  std::string answer;
  bool have = false;
  {
    std::lock_guard<std::mutex> lock(g_answersMutex);
    if (!g_answers.empty()) {
      answer = std::move(g_answers.front());
      g_answers.pop_front();
      have = true;
    }
  }
  if (have) {
    // The request head first (the client sends it at once).
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && Readable(fd, 1000)) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t sent = 0;
    while (sent < answer.size()) {
      const ssize_t n = send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;  // the client stopped reading
      sent += static_cast<std::size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    // Until the client is done with the answer.
    while (Readable(fd, 2000) && recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
  }
  close(fd);
}

const std::string& AnswerSocket() {
  static const std::string path = [] {
    const std::string p = ScratchDir() + "/answers.sock";
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    Require(p.size() < sizeof address.sun_path, "socket path fits");
    std::memcpy(address.sun_path, p.c_str(), p.size() + 1);
    Require(listener >= 0 && bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                listen(listener, 16) == 0,
            "answer socket listens");
    // One connection at a time, for the life of the process.
    std::thread([listener] {
      for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) ServeConnection(fd);
      }
    }).detach();
    return p;
  }();
  return path;
}

}  // namespace

void ServeAnswers(std::vector<std::string> answers) {
  const std::string& path = AnswerSocket();
  {
    std::lock_guard<std::mutex> lock(g_answersMutex);
    g_answers.assign(std::make_move_iterator(answers.begin()), std::make_move_iterator(answers.end()));
  }
  SetHttpUnixSocketForTesting(path);
}

void StopServingAnswers() {
  SetHttpUnixSocketForTesting({});
  std::lock_guard<std::mutex> lock(g_answersMutex);
  g_answers.clear();
}

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace autodeliver::fuzz
