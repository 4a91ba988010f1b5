// The kept login browser profile: the login browser's profile (the
// marketplace's lasting "remember me" cookies among it) kept in the data
// folder, in "browser/", owner-only (0700), so that after a start the
// login browser signs in again without the seller. The settings row
// "保留登录状态" turns it off ("0"; missing or any other value: on);
// turning it off removes the folder.
//
// Thread safety: the settings table takes the store lock; the folder
// functions touch the file system only; call from any thread.
#pragma once

#include <string>

namespace autodeliver {

class ShopContext;

// "保留登录状态" (GBK).
const std::string& KeepLoginSetting();

// Whether the profile is kept.
bool KeepLoginWanted(ShopContext& shop);
// Keeps the choice; off also removes the profile folder. False when the
// settings table could not be written or the folder not removed.
bool SetKeepLogin(ShopContext& shop, bool keep);

// shop.DataDir() + "/browser".
std::string LoginProfileFolder(const ShopContext& shop);
// Makes the profile folder, or narrows an existing one, to 0700 (a
// symbolic link or a non-folder in its place is refused). False, with
// `problem` saying why, when that cannot be done: the login browser then
// runs on a private profile.
bool PrepareLoginProfileFolder(const ShopContext& shop, std::string* problem = nullptr);
// Removes the profile folder and everything in it; true when it is gone.
bool RemoveLoginProfileFolder(const ShopContext& shop);

}  // namespace autodeliver
