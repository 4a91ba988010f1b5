// Which program folder the program works on, chosen at start (the shop's
// context, shop_context.h, built for it then gives its data folder and table
// files; a test or a tool builds a context for the folder it works on). The
// program directory is, in this order of precedence:
//
//   - the shop chosen with SetShop (--shop NAME): the folder
//     $XDG_DATA_HOME/autodeliver/shops/NAME, filled from the installed
//     template like the default folder below, so each shop has its own
//     tables, lock, log and browser profile;
//   - $AUTODELIVER_DIR: a portable folder, used as it is;
//   - when the program runs installed (the template folder
//     <executable's folder>/../share/autodeliver/template exists), the
//     user's data folder $XDG_DATA_HOME/autodeliver (default
//     ~/.local/share/autodeliver), filled from the template at start-up
//     (store/shop_folder.h);
//   - otherwise the executable's directory (a build tree, a copied folder).
//
// File names on disk are UTF-8.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <string>
#include <vector>

namespace autodeliver {

// Table file names inside the data folder (UTF-8).
inline constexpr char kSettingsTableFile[] = "配置.edb";
inline constexpr char kItemsTableFile[] = "监控宝贝.edb";
inline constexpr char kStockTableFile[] = "库存卡密.edb";
inline constexpr char kSentTableFile[] = "已发卡密.edb";

// Where ProgramDir() comes from (see above).
enum class ProgramDirSource { kShop, kEnvironment, kInstalled, kExecutable };

// The program directory without a trailing slash.
std::string ProgramDir();
// Which rule chose ProgramDir() at this moment.
ProgramDirSource CurrentProgramDirSource();

// A shop's name: 1 to 64 bytes of UTF-8 without "/", control characters or
// a leading dot (so never "." or ".."), and no surrounding spaces.
bool IsValidShopName(const std::string& name);
// Chooses the shop `name` (valid, see above) for the rest of the process;
// empty returns to the default shop, the folder used before shops existed.
void SetShop(const std::string& name);
// The shop chosen, empty for the default shop.
std::string CurrentShop();
// UserDataFolder() + "/shops", empty when there is no user data folder.
std::string ShopsFolder();
// The shops present: the folders under ShopsFolder() whose names are valid,
// sorted by their bytes. The default shop is not among them.
std::vector<std::string> ListShops();

// The installed template folder when the program runs installed, else empty.
std::string InstalledTemplateDir();
// The data folder of an installed program: $XDG_DATA_HOME/autodeliver, with
// $HOME/.local/share in place of an unset, empty or relative XDG_DATA_HOME;
// empty when neither gives an absolute folder.
std::string UserDataFolder();

}  // namespace autodeliver
