// Test support for the IM bridge: a private X server (Xvfb) per test
// process, the IM client imitation started as a child, and bounded waits.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace autodeliver::testing {

// Waits until `done` holds, checking every few milliseconds, for at most
// `bound`. Returns the last result of `done`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = std::chrono::seconds(10));

// Starts `argv` with extra environment entries ("NAME=value"), its output
// sent to /dev/null. Returns the pid, or -1.
pid_t StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});

// Waits (bounded) for `pid` to end; returns its exit code, or -1 when it
// did not end in time.
int WaitProcess(pid_t pid, std::chrono::milliseconds bound = std::chrono::seconds(10));

// Ends a process this test started: SIGTERM, then a bounded wait.
void StopProcess(pid_t pid);

// A private Xvfb on a free display number (found by Xvfb itself through
// -displayfd). Falls back to $DISPLAY when Xvfb is not installed.
class XServer {
 public:
  XServer() = default;
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  ~XServer();
  // Empty on success, else why no display is available.
  std::string Start();
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// Replaces a file's content (creating its folders); `executable` makes it a
// program its owner may run. (Reading: ReadFileBytes, support/temp_dir.h.)
void WriteFile(const std::string& path, const std::string& content, bool executable = false);

// The lines of a file (without the line feed).
std::vector<std::string> ReadLines(const std::string& path);

// The value of a string field in a one-line JSON object (escapes \" \\ \r
// \n \t undone); empty when the field is missing.
std::string JsonField(const std::string& line, const std::string& name);

}  // namespace autodeliver::testing
