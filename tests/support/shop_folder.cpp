#include "support/shop_folder.h"

namespace autodeliver::testing {

ShopFolder::ShopFolder(bool withTables) : context_(dir_.path()) {
  if (dir_.path().empty())
    error_ = "no temporary folder";
  else
    ok_ = !withTables || CreateDataTables(dir_.path(), &error_);
}

ShopFolder::ShopFolder(TableLayout layout) : ShopFolder(false) {
  if (ok_) ok_ = CreateDataTables(dir_.path(), &error_, layout);
}

ShopFolder::~ShopFolder() = default;

}  // namespace autodeliver::testing
