// The IM client lookup at start-up: the stored path, else the desktop's
// "aliim" URL-scheme handler (GIO), else the handler in a Wine prefix's
// registry, else the missing-client message.
#include "app/locate_im_client.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include "im/wine_client.h"
#include "market/hosts.h"
#include "store/settings.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

// True when the GBK path names an existing file that is not a directory.
bool NamesFile(const std::string& gbkPath) {
  if (gbkPath.empty()) return false;
  std::optional<std::string> utf8 = GbkToUtf8(gbkPath);
  if (!utf8) return false;
  struct stat info {};
  return stat(utf8->c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace

bool StoredClientExists(const std::string& storedPath) {
  if (std::optional<WineClient> wine = ParseWineClientPath(storedPath)) {
    std::optional<std::string> prefix = GbkToUtf8(wine->prefix);
    std::optional<std::string> file = prefix ? MapWindowsPath(*prefix, wine->program) : std::nullopt;
    struct stat info {};
    return file && stat(file->c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
  }
  return NamesFile(storedPath);
}

std::optional<WineHandler> WineAliimHandler() {
  for (const std::string& prefix : WinePrefixCandidates()) {
    if (std::optional<std::string> command = WineAliimCommand(prefix)) {
      // A prefix the settings cannot hold (not GBK, or with the separator)
      // cannot be stored; the next one may.
      if (!Utf8ToGbk(prefix) || prefix.find('|') != std::string::npos) continue;
      return WineHandler{prefix, *command};
    }
  }
  return std::nullopt;
}

std::optional<std::string> AliimHandlerCommand() {
  GAppInfo* info = g_app_info_get_default_for_uri_scheme("aliim");
  if (info == nullptr) return std::nullopt;
  std::optional<std::string> command;
  if (const char* line = g_app_info_get_commandline(info)) command = Utf8ToGbkLossy(line);
  g_object_unref(info);
  return command;
}

std::vector<std::string> SplitAtSpaces(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t space = text.find(' '); space != std::string::npos; space = text.find(' ', start)) {
    pieces.push_back(text.substr(start, space - start));
    start = space + 1;
  }
  if (start < text.size()) pieces.push_back(text.substr(start));
  return pieces;
}

bool LocateImClient(ShopContext& shop, Prompts& prompts) {
  ImClientLookup lookup;
  lookup.storedPath = [&shop] { return GetSetting(shop, ImClientPathSetting()); };
  lookup.storePath = [&shop](const std::string& path) { SetSetting(shop, ImClientPathSetting(), path); };
  lookup.handler = AliimHandlerCommand;
  lookup.wineHandler = WineAliimHandler;
  return LocateImClient(prompts, lookup);
}

bool LocateImClient(Prompts& prompts, const ImClientLookup& lookup) {
  if (StoredClientExists(lookup.storedPath())) return true;
  // A handler whose command is empty names no program: treated as missing.
  std::optional<std::string> command = lookup.handler();
  std::vector<std::string> pieces = command ? SplitAtSpaces(*command) : std::vector<std::string>{};
  if (!pieces.empty()) {
    lookup.storePath(pieces.front());
    return true;
  }
  // The Windows client under Wine, with its prefix. Its installer writes the
  // program quoted when the path has spaces ("C:\Program Files\...\AliIM.exe"
  // "%1"), as Windows programs do; the piece up to the first space would then be
  // "C:\Program, which can never start. So a quoted program is taken whole, the
  // way Windows reads a program name; an unquoted one is the first piece.
  std::optional<WineHandler> wine = lookup.wineHandler ? lookup.wineHandler() : std::nullopt;
  pieces = wine ? SplitAtSpaces(wine->command) : std::vector<std::string>{};
  if (!pieces.empty()) {
    std::string program = pieces.front();
    if (!program.empty() && program.front() == '"') {
      const size_t close = wine->command.find('"', 1);
      if (close != std::string::npos) program = wine->command.substr(1, close - 1);
    }
    lookup.storePath(program.empty() ? std::string()
                                     : WineClientPathText(WineClient{Utf8ToGbkLossy(wine->prefix), program}));
    return true;
  }
  static const std::string kMessage = "您如果需要使用自动发货功能，请先安装 阿里旺旺(卖家版)"_gbk;
  static const std::string kCaption = "错误"_gbk;
  prompts.ShowBox(kMessage, kCaption, BoxKind::kError);
  prompts.OpenPage(ImDownloadUrl());
  prompts.EndProgram(0);
  return false;
}

}  // namespace autodeliver
