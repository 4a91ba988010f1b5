// The start-up check that the seller's IM client is installed: keeps the
// stored setting "阿里旺旺核心文件路径" when it names an existing file, and
// otherwise stores the program of the desktop's handler for the "aliim" URL
// scheme, or else the program of the "aliim" handler in the registry of a
// Wine prefix the seller uses (im/wine_client.h: $WINEPREFIX, ~/.wine,
// ~/.deepinwine/*), stored as "wine:<prefix>|<program>". A stored client
// under Wine exists when its Windows path, mapped through the prefix's drive
// links, names a file. With no handler anywhere the missing-client message
// is shown, the client's download page opened and the end of the program
// asked for.
//
// It is part of the start-up sequence rather than of the IM bridge: it needs
// the prompts, the marketplace's download page and the settings, while the
// bridge only sends a message with the program path its caller hands it.
// Qt-free.
//
// Thread safety: runs on the window's thread at start-up; the handler lookup
// uses GIO, which is safe from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "service/prompts.h"

namespace autodeliver {

class ShopContext;

// The command text of the desktop's default handler for "aliim:" URIs (its
// Exec line, converted to GBK), or nullopt when there is no handler.
std::optional<std::string> AliimHandlerCommand();

// Splits `text` at every single space: each space ends a piece (so two
// spaces give an empty piece), and the text after the last space is a piece
// only when it is not empty. Empty text gives no piece.
std::vector<std::string> SplitAtSpaces(const std::string& text);

// The "aliim" handler of the first Wine prefix that has one (in the order of
// WinePrefixCandidates): the prefix (UTF-8) and the handler's command (GBK).
struct WineHandler {
  std::string prefix;
  std::string command;
};
std::optional<WineHandler> WineAliimHandler();

// True when the stored client path names an existing file: a native path
// as it is, a client under Wine through its prefix's drive links.
bool StoredClientExists(const std::string& storedPath);

// Where LocateImClient reads and writes, so tests can hand in their own.
struct ImClientLookup {
  std::function<std::string()> storedPath;              // GetSetting
  std::function<void(const std::string&)> storePath;    // SetSetting
  std::function<std::optional<std::string>()> handler;  // AliimHandlerCommand
  // WineAliimHandler; empty: no Wine lookup. Asked only when the desktop
  // has no handler.
  std::function<std::optional<WineHandler>()> wineHandler;
};

// Returns true when the program may go on (the stored path names a file, or
// the handler's first piece was stored). Returns false after the
// missing-client message, the download page and EndProgram(0): the caller
// must return at once. A handler with an empty command counts as missing.
bool LocateImClient(ShopContext& shop, Prompts& prompts);
bool LocateImClient(Prompts& prompts, const ImClientLookup& lookup);

}  // namespace autodeliver
