#include "support/shop_folder.h"

#include "store/shop_paths.h"
#include "store/table_schema.h"

namespace autodeliver::testing {

ShopFolder::ShopFolder(bool withTables) {
  SetProgramDir(dir_.path());
  ok_ = !dir_.path().empty() && (!withTables || CreateDataTables(dir_.path()));
}

ShopFolder::~ShopFolder() { SetProgramDir(""); }

}  // namespace autodeliver::testing
