// Helpers shared by the window tests: a prompts fake with scripted answers,
// a loopback HTTP server on a free port, and bounded waits.
#pragma once

#include <httplib.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "service/prompts.h"
#include "text/gbk.h"

namespace autodeliver::testing_support {

// Prompts that record every call (texts as UTF-8) and answer from a script.
class FakePrompts : public Prompts {
 public:
  struct Box {
    std::string text, caption;
    BoxKind kind;
  };
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override {
    boxes.push_back({GbkToUtf8Lossy(text), GbkToUtf8Lossy(caption), kind});
    if (onBox) onBox();
    if (kind != BoxKind::kQuestion) return BoxAnswer::kOk;
    if (answers.empty()) return BoxAnswer::kNo;
    BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void OpenPage(const std::string& url) override { pages.push_back(GbkToUtf8Lossy(url)); }
  void EndProgram(int exitCode) override { endedWith.push_back(exitCode); }

  std::function<void()> onBox;  // runs while a box is "open"
  std::deque<BoxAnswer> answers;
  std::vector<Box> boxes;
  std::vector<std::string> pages;
  std::vector<int> endedWith;
};

// An HTTP server on 127.0.0.1 and a free port, running on its own thread
// until destroyed.
class LoopbackServer {
 public:
  httplib::Server server;
  int port = 0;

  void Start() {
    port = server.bind_to_any_port("127.0.0.1");
    // The socket listens from the bind on, so requests wait in its backlog
    // until the loop below takes them.
    thread_ = std::thread([this] { server.listen_after_bind(); });
  }
  ~LoopbackServer() {
    server.stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port); }

 private:
  std::thread thread_;
};

// Waits for `condition` while processing events, for at most `ms`.
inline bool WaitFor(const std::function<bool()>& condition, int ms = 30000) {
  return QTest::qWaitFor(condition, ms);
}

}  // namespace autodeliver::testing_support
