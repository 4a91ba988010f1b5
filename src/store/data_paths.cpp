#include "store/data_paths.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

namespace autodeliver {

namespace {

std::mutex& DirMutex() {
  static std::mutex m;
  return m;
}

std::string& DirOverride() {
  static std::string dir;
  return dir;
}

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string ExecutableDir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string exe(buf, static_cast<std::size_t>(n));
  std::size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : exe.substr(0, slash);
}

}  // namespace

std::string ProgramDir() {
  {
    std::lock_guard<std::mutex> lock(DirMutex());
    if (!DirOverride().empty()) return DirOverride();
  }
  const char* env = std::getenv("AUTODELIVER_DIR");
  if (env && *env) return WithoutTrailingSlash(env);
  return ExecutableDir();
}

void SetProgramDir(const std::string& dir) {
  std::lock_guard<std::mutex> lock(DirMutex());
  DirOverride() = dir.empty() ? std::string() : WithoutTrailingSlash(dir);
}

std::string DataDir() { return ProgramDir() + "/data"; }
std::string SettingsTablePath() { return DataDir() + "/" + kSettingsTableFile; }
std::string ItemsTablePath() { return DataDir() + "/" + kItemsTableFile; }
std::string StockTablePath() { return DataDir() + "/" + kStockTableFile; }
std::string SentTablePath() { return DataDir() + "/" + kSentTableFile; }

}  // namespace autodeliver
