// Whether a program runs, read from /proc; see ProgramIsRunning in
// im_sender.h.
#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "im/im_sender.h"

namespace autodeliver {
namespace {

std::string Canonical(const std::string& path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(path, error);
  return error ? std::string() : resolved.string();
}

// The target of /proc/<pid>/exe, without the " (deleted)" of a replaced file.
std::string ExecutableOf(const std::string& pidDir) {
  char buffer[4096];
  const ssize_t n = readlink((pidDir + "/exe").c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

// Whether one of the first two arguments of the process names `program`:
// a script runs as its interpreter with the script as an argument.
bool RunsAsArgument(const std::string& pidDir, const std::string& program) {
  std::ifstream in(pidDir + "/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t from = 0;
  for (int i = 0; i < 2 && from < all.size(); ++i) {
    const size_t end = all.find('\0', from);
    const std::string arg = all.substr(from, end == std::string::npos ? std::string::npos : end - from);
    if (!arg.empty() && arg[0] == '/' && Canonical(arg) == program) return true;
    if (end == std::string::npos) break;
    from = end + 1;
  }
  return false;
}

}  // namespace

bool ProgramIsRunning(const std::string& programPath) {
  const std::string program = Canonical(programPath);
  if (program.empty()) return false;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (!found) {
    const dirent* entry = readdir(proc);
    if (entry == nullptr) break;
    if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
    const std::string pidDir = std::string("/proc/") + entry->d_name;
    // A zombie has no executable any more; it does not count as running.
    found = ExecutableOf(pidDir) == program || RunsAsArgument(pidDir, program);
  }
  closedir(proc);
  return found;
}

}  // namespace autodeliver
