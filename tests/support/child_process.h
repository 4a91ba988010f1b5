// A child process of a test whose standard output is read line by line: a
// local server (the marketplace imitation, the alert peers, a private
// session bus) started without a shell, which names its port or address on
// its first line. Its standard error goes to /dev/null. Every read is
// bounded, and the child is ended (SIGTERM, then waited for) when the
// object goes, so no test leaves a process behind.
//
// Used by the one thread that made it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace autodeliver::testing {

class ChildWithOutput {
 public:
  // Runs `args[0]` (a full path) with `args`, in this process's environment
  // with `extraEnv` ("NAME=value") added or replacing what it names.
  explicit ChildWithOutput(const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv = {});
  ~ChildWithOutput();
  ChildWithOutput(const ChildWithOutput&) = delete;
  ChildWithOutput& operator=(const ChildWithOutput&) = delete;

  bool started() const { return pid_ > 0; }

  // The next line of output (without its line break), waiting at most
  // `bound`; nullopt when none came or the child ended first.
  std::optional<std::string> NextLine(std::chrono::milliseconds bound);

  // Stops reading: what the child writes from now on is thrown away by the
  // system (a write of its gets EPIPE), so it never blocks on a full pipe.
  void CloseOutput();

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string buffer_;
};

// The bound a test waits for a local server to name its port.
inline constexpr std::chrono::milliseconds kServerStartBound{20000};

}  // namespace autodeliver::testing
