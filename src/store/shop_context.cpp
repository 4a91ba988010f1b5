#include "store/shop_context.h"

#include <unistd.h>

#include <utility>
#include <vector>

#include "store/shop_paths.h"

namespace autodeliver {

namespace {

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// The installed context, and the contexts made for the folder rules' choice
// (each kept: a caller may still hold a reference to an earlier one).
struct ProgramShops {
  Mutex mutex;
  ShopContext* installed AD_GUARDED_BY(mutex) = nullptr;
  std::vector<std::unique_ptr<ShopContext>> byRules AD_GUARDED_BY(mutex);
};

ProgramShops& Shops() {
  static ProgramShops shops;
  return shops;
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

ShopContext& ProgramShop() {
  ProgramShops& shops = Shops();
  MutexLock guard(shops.mutex);
  if (shops.installed) return *shops.installed;
  const std::string dir = ProgramDir();
  for (const std::unique_ptr<ShopContext>& shop : shops.byRules)
    if (shop->ProgramDir() == dir) return *shop;
  shops.byRules.push_back(std::make_unique<ShopContext>(dir));
  return *shops.byRules.back();
}

ProgramShopScope::ProgramShopScope(ShopContext& shop) {
  ProgramShops& shops = Shops();
  MutexLock guard(shops.mutex);
  previous_ = shops.installed;
  shops.installed = &shop;
}

ProgramShopScope::~ProgramShopScope() {
  ProgramShops& shops = Shops();
  MutexLock guard(shops.mutex);
  shops.installed = previous_;
}

}  // namespace autodeliver
