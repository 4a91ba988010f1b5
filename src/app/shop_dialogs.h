// The shop chooser shown at start-up and the offer to bring old data into a
// new data folder ("导入旧数据…", store/old_data.h).
//
// Thread safety: GUI thread only; a QApplication exists.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace autodeliver {

class ShopContext;

// Asks which shop to run: the default shop or one of `shops`, or a new name
// typed in. The shop's name, empty for the default shop, nullopt when the
// seller cancelled.
std::optional<std::string> AskForShop(const std::vector<std::string>& shops);

// Offers to bring an earlier installation's data into the program folder
// `dir` (new, with empty tables): the seller picks the old folder, sees what
// would be done (a dry run), confirms, and sees what was done.
void OfferOldDataImport(ShopContext& shop, const std::string& dir);

}  // namespace autodeliver
