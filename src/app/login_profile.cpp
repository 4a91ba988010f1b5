// The kept login browser profile; see login_profile.h.
#include "app/login_profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "store/settings.h"
#include "store/shop_paths.h"
#include "text/gbk.h"

namespace autodeliver {

const std::string& KeepLoginSetting() {
  static const std::string kName = "保留登录状态"_gbk;
  return kName;
}

bool KeepLoginWanted(ShopContext& shop) { return GetSetting(shop, KeepLoginSetting()) != "0"; }

bool SetKeepLogin(ShopContext& shop, bool keep) {
  const bool written = PutSetting(shop, KeepLoginSetting(), keep ? "1" : "0").ok();
  if (keep) return written;
  return RemoveLoginProfileFolder(shop) && written;
}

std::string LoginProfileFolder(const ShopContext& shop) { return shop.DataDir() + "/browser"; }

bool PrepareLoginProfileFolder(const ShopContext& shop, std::string* problem) {
  const std::string folder = LoginProfileFolder(shop);
  auto fail = [&](const std::string& why) {
    if (problem) *problem = why;
    return false;
  };
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return fail(std::strerror(errno));
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return fail(std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return fail("not a folder");
  if (st.st_uid != ::geteuid()) return fail("owned by another user");
  if ((st.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) return fail(std::strerror(errno));
  return true;
}

bool RemoveLoginProfileFolder(const ShopContext& shop) {
  std::error_code error;
  std::filesystem::remove_all(LoginProfileFolder(shop), error);
  return !error && !std::filesystem::exists(std::filesystem::symlink_status(LoginProfileFolder(shop)));
}

}  // namespace autodeliver
