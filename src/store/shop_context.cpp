#include "store/shop_context.h"

#include <unistd.h>

#include <utility>

#include "store/shop_paths.h"

namespace autodeliver {

namespace {

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

ShopContext::ShopContext(std::string programDir)
    : programDir_(WithoutTrailingSlash(std::move(programDir))),
      dataDir_(programDir_ + "/data"),
      settingsTable_(dataDir_ + "/" + kSettingsTableFile),
      itemsTable_(dataDir_ + "/" + kItemsTableFile),
      stockTable_(dataDir_ + "/" + kStockTableFile),
      sentTable_(dataDir_ + "/" + kSentTableFile) {}

ShopContext::~ShopContext() {
  RecursiveMutexLock guard(storeLock_);
  if (sharedFd_ >= 0) ::close(sharedFd_);
}

}  // namespace autodeliver
