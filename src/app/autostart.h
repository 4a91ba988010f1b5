// The program started at desktop login: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<desktop id>.desktop (~/.config/autostart when
// XDG_CONFIG_HOME is unset, empty or not absolute), named like the
// installed desktop entry so the desktop shows one program. Its Exec names
// the program that wrote it and, when a shop other than the default one
// runs, its --shop; the seller's choice is kept in the settings row
// "登录桌面时启动" ("1" on, "0" off).
//
// The entry is written whole into a temporary file in the same folder,
// synced and renamed over the old one, so a reader never sees half of it.
//
// Thread safety: free of shared state; the settings row takes the store
// lock.
#pragma once

#include <string>

namespace autodeliver {

class ShopContext;

// The settings row that keeps the seller's choice.
inline constexpr char kAutostartSetting[] = "登录桌面时启动";  // UTF-8; stored as GBK

// The folder of the autostart entries; empty when neither XDG_CONFIG_HOME
// nor HOME gives one.
std::string AutostartFolder();
// AutostartFolder() + "/" + desktopId + ".desktop".
std::string AutostartEntryPath(const std::string& desktopId);

// The text of the entry: `programPath` (absolute) started with `--shop
// shop` when `shop` is not empty; both quoted as a desktop entry's Exec
// needs.
std::string AutostartEntry(const std::string& desktopId, const std::string& programPath,
                           const std::string& shop);

// Writes the entry (creating the folder); false when it could not be
// written, the old entry then unchanged.
bool WriteAutostartEntry(const std::string& desktopId, const std::string& programPath,
                         const std::string& shop);
// Removes the entry; true when none is there afterwards.
bool RemoveAutostartEntry(const std::string& desktopId);
bool AutostartEntryExists(const std::string& desktopId);

// The seller's choice as kept in the settings row (off when missing).
bool AutostartChosen(ShopContext& shop);
// Keeps the choice; false when the settings table could not be written.
bool RememberAutostart(ShopContext& shop, bool on);

}  // namespace autodeliver
