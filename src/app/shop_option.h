// The program's shop options, read from the command line before anything
// else (the rest of the line is Qt's):
//
//   --shop NAME, --shop=NAME   run the shop NAME (store/shop_paths.h)
//   --choose-shop              ask which shop to run, even with one only
//
// and the words the program says about old data brought in
// (store/old_data.h), as the window shows them.
//
// Thread safety: free of shared state.
#pragma once

#include <string>

#include "store/old_data.h"

namespace autodeliver {

struct ShopOption {
  std::string name;     // the shop asked for, empty for none
  bool choose = false;  // --choose-shop
  std::string error;    // a usage error (UTF-8), empty when the line is sound
};

ShopOption ParseShopOption(int argc, const char* const* argv);

// What a migration found and did (or would do, `dryRun`), in the program's
// words (UTF-8), one paragraph per table.
std::string OldDataSummary(const OldDataReport& report, bool dryRun);

}  // namespace autodeliver
