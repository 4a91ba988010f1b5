// The seller's IM client as a Windows program under Wine: where it is (a
// Wine prefix and a Windows path inside it), how the program stores that in
// its one client-path setting, how a Windows path maps to a Linux file
// through the prefix's drive links, which helper matches the client's
// program file, and how the client is found in the registries of the
// prefixes a seller uses.
//
// The stored form of a client under Wine is
//
//   wine:<prefix>|<Windows program path>
//
// for example  wine:/home/ann/.wine|C:\AliWangWang\AliIM.exe  — the Linux
// folder of the prefix (no "|" in it) and the program path exactly as the
// prefix's "aliim" handler gives its first piece. Any other stored text is a
// native program path. The whole text is GBK like every setting; the prefix
// is a Linux path and is converted to UTF-8 where it is used.
//
// The registry files are Wine's text format (system.reg, user.reg):
//
//   [Software\\Classes\\aliim\\Shell\\Open\\Command] 1700000000
//   @="C:\\AliWangWang\\AliIM.exe %1"            REG_SZ
//   @=str(2):"%ProgramFiles%\\Ali\\AliIM.exe"     REG_EXPAND_SZ
//   @=hex(2):43,00,3a,00,...                      REG_EXPAND_SZ, UTF-16LE
//
// Key names are case-insensitive; strings use the escapes \\ \" \n \r \t
// \0, \xHHHH (a UTF-16 unit) and octal \NNN; a hex value may go on over
// several lines ended by a backslash.
//
// Thread safety: every function is a pure function of its arguments and
// the files it reads.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace autodeliver {

struct WineClient {
  std::string prefix;   // the prefix's Linux folder (GBK, as stored)
  std::string program;  // the Windows path of the client's program (GBK)
};

// "wine:<prefix>|<program>" when `stored` has that form with a non-empty
// prefix and program; nullopt for a native path.
std::optional<WineClient> ParseWineClientPath(const std::string& stored);
std::string WineClientPathText(const WineClient& client);

// The Linux file a Windows path names inside `prefixUtf8`: its drive letter
// through <prefix>/dosdevices/<x:>, each further component matched without
// regard to ASCII case, as Wine does. Quotes are dropped (a Windows file
// name cannot hold one). nullopt when the path is not an absolute
// drive-letter path or a component is missing. `windowsPath` is GBK.
std::optional<std::string> MapWindowsPath(const std::string& prefixUtf8, const std::string& windowsPath);

// The bitness of a Windows program file from its PE header: 32 (i386), 64
// (x86-64), or 0 when the file cannot be read or is no PE image.
int PeBits(const std::string& linuxPath);

// The default value of `key` (a path below the file's root, such as
// "Software\\Classes\\aliim\\Shell\\Open\\Command", single backslashes)
// in the Wine registry text `regText`, converted to GBK. REG_EXPAND_SZ is
// expanded with `expand`; any other type, a missing key or a missing
// default value gives nullopt.
std::optional<std::string> ReadRegistryDefault(
    const std::string& regText, const std::string& key,
    const std::vector<std::pair<std::string, std::string>>& expand = {});

// The command of the "aliim" handler in the prefix `prefixUtf8`: the
// per-user class (user.reg) before the machine-wide one (system.reg), as
// HKEY_CLASSES_ROOT merges them; REG_EXPAND_SZ expanded with the prefix's
// own %SystemRoot%, %ProgramFiles% and the other folders Windows knows.
// nullopt when neither file has the value.
std::optional<std::string> WineAliimCommand(const std::string& prefixUtf8);

// The prefixes to look in, in order: $WINEPREFIX, ~/.wine, then each folder
// under ~/.deepinwine/ in name order; only folders that hold a system.reg,
// each once. UTF-8 paths.
std::vector<std::string> WinePrefixCandidates();

}  // namespace autodeliver
