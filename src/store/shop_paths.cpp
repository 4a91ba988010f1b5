#include "store/shop_paths.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "base/mutex.h"

// The template folder relative to the executable's folder, from the install
// layout (bin/ and share/ under one prefix).
#ifndef AUTODELIVER_TEMPLATE_FROM_BIN
#define AUTODELIVER_TEMPLATE_FROM_BIN "../share/autodeliver/template"
#endif

namespace autodeliver {

namespace {

// The shop set by SetShop.
struct DirChoice {
  Mutex mutex;
  std::string shop AD_GUARDED_BY(mutex);
};

DirChoice& Choice() {
  static DirChoice choice;
  return choice;
}

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string FindExecutableDir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string exe(buf, static_cast<std::size_t>(n));
  std::size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : exe.substr(0, slash);
}

// The executable does not move while it runs: both are looked up once.
const std::string& ExecutableDir() {
  static const std::string dir = FindExecutableDir();
  return dir;
}

const std::string& TemplateDir() {
  static const std::string dir = [] {
    std::string path = ExecutableDir() + "/" + AUTODELIVER_TEMPLATE_FROM_BIN;
    char real[PATH_MAX];
    struct stat st {};
    if (::realpath(path.c_str(), real) == nullptr || ::stat(real, &st) != 0 || !S_ISDIR(st.st_mode))
      return std::string();
    return std::string(real);
  }();
  return dir;
}

const char* NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

}  // namespace

ProgramDirSource CurrentProgramDirSource() {
  {
    DirChoice& choice = Choice();
    MutexLock lock(choice.mutex);
    if (!choice.shop.empty() && !UserDataFolder().empty()) return ProgramDirSource::kShop;
  }
  if (NonEmptyEnv("AUTODELIVER_DIR")) return ProgramDirSource::kEnvironment;
  if (!TemplateDir().empty() && !UserDataFolder().empty()) return ProgramDirSource::kInstalled;
  return ProgramDirSource::kExecutable;
}

std::string ProgramDir() {
  {
    DirChoice& choice = Choice();
    MutexLock lock(choice.mutex);
    if (!choice.shop.empty()) {
      const std::string shops = ShopsFolder();
      if (!shops.empty()) return shops + "/" + choice.shop;
    }
  }
  if (const char* env = NonEmptyEnv("AUTODELIVER_DIR")) return WithoutTrailingSlash(env);
  if (!TemplateDir().empty()) {
    std::string user = UserDataFolder();
    if (!user.empty()) return user;
  }
  return ExecutableDir();
}

bool IsValidShopName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.' || name.front() == ' ' || name.back() == ' ')
    return false;
  for (unsigned char c : name)
    if (c == '/' || c < 0x20 || c == 0x7f) return false;
  // Whole UTF-8 sequences only.
  for (std::size_t i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > name.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(name[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

void SetShop(const std::string& name) {
  DirChoice& choice = Choice();
  MutexLock lock(choice.mutex);
  choice.shop = IsValidShopName(name) ? name : std::string();
}

std::string CurrentShop() {
  DirChoice& choice = Choice();
  MutexLock lock(choice.mutex);
  return choice.shop;
}

std::string ShopsFolder() {
  const std::string user = UserDataFolder();
  return user.empty() ? std::string() : user + "/shops";
}

std::vector<std::string> ListShops() {
  std::vector<std::string> names;
  const std::string folder = ShopsFolder();
  if (folder.empty()) return names;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    struct stat st {};
    if (IsValidShopName(name) && ::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string InstalledTemplateDir() { return TemplateDir(); }

std::string UserDataFolder() {
  // A relative XDG_DATA_HOME is invalid and ignored, as the XDG base
  // directory rules say.
  const char* xdg = NonEmptyEnv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return WithoutTrailingSlash(xdg) + "/autodeliver";
  std::string home;
  if (const char* h = NonEmptyEnv("HOME")) {
    home = h;
  } else {
    passwd pw{};
    passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
      home = found->pw_dir;
  }
  if (home.empty() || home[0] != '/') return std::string();
  home = WithoutTrailingSlash(home);
  return (home == "/" ? std::string() : home) + "/.local/share/autodeliver";
}

}  // namespace autodeliver
