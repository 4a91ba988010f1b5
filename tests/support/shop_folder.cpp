#include "support/shop_folder.h"

#include "store/shop_paths.h"

namespace autodeliver::testing {

ShopFolder::ShopFolder(bool withTables) {
  SetProgramDir(dir_.path());
  if (dir_.path().empty())
    error_ = "no temporary folder";
  else
    ok_ = !withTables || CreateDataTables(dir_.path(), &error_);
}

ShopFolder::ShopFolder(TableLayout layout) : ShopFolder(false) {
  if (ok_) ok_ = CreateDataTables(dir_.path(), &error_, layout);
}

ShopFolder::~ShopFolder() { SetProgramDir(""); }

}  // namespace autodeliver::testing
