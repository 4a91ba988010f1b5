// The IM client under Wine: the stored form, the drive mapping, the PE
// header and the registry text files of a prefix.
#include "im/wine_client.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "text/gbk.h"

namespace autodeliver {
namespace {

const char kWineMark[] = "wine:";

char AsciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void AppendUtf8(std::string* out, unsigned long cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 units to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8OfUnits(const std::u16string& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    unsigned long u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    AppendUtf8(&out, u);
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLowerChar(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Undoes the escapes of a registry string up to its closing quote (or the
// end); `p` starts after the opening quote. Bytes that are not escaped pass
// through as UTF-8 (Wine writes non-ASCII as \x escapes; a hand-edited file
// may hold the characters themselves). Returns UTF-8.
std::string UnescapeRegString(const std::string& text, size_t p, bool stopAtQuote, size_t* end = nullptr) {
  std::u16string units;
  std::string out;
  auto flushUnits = [&] {
    out += Utf8OfUnits(units);
    units.clear();
  };
  while (p < text.size()) {
    char c = text[p];
    if (stopAtQuote && c == '"') break;
    if (c != '\\' || p + 1 >= text.size()) {
      flushUnits();
      out += c;
      ++p;
      continue;
    }
    char e = text[p + 1];
    p += 2;
    if (e == 'x') {
      unsigned long value = 0;
      int digits = 0;
      while (digits < 4 && p < text.size() && HexValue(text[p]) >= 0) {
        value = value * 16 + static_cast<unsigned long>(HexValue(text[p++]));
        ++digits;
      }
      units.push_back(static_cast<char16_t>(value));
      continue;
    }
    if (e >= '0' && e <= '7') {
      unsigned long value = static_cast<unsigned long>(e - '0');
      for (int digits = 1; digits < 3 && p < text.size() && text[p] >= '0' && text[p] <= '7'; ++digits) {
        value = value * 8 + static_cast<unsigned long>(text[p++] - '0');
      }
      units.push_back(static_cast<char16_t>(value));
      continue;
    }
    flushUnits();
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'a':
        out += '\a';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'v':
        out += '\v';
        break;
      case 'e':
        out += '\x1B';
        break;
      default:
        out += e;
        break;  // \\ \" and anything else: the character itself
    }
  }
  flushUnits();
  if (end != nullptr) *end = p;
  return out;
}

// The bytes of "hex(N):xx,xx,..." continued over lines ended by "\".
std::string HexBytes(const std::string& text) {
  std::string bytes;
  int high = -1;
  for (char c : text) {
    int v = HexValue(c);
    if (v < 0) continue;  // commas, the continuation backslashes, line ends, blanks
    if (high < 0) {
      high = v;
    } else {
      bytes += static_cast<char>(high * 16 + v);
      high = -1;
    }
  }
  return bytes;
}

// A UTF-16LE string up to its first NUL, as UTF-8.
std::string Utf8OfUtf16Le(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t u = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  return Utf8OfUnits(units);
}

// %NAME% replaced by its value (names without regard to ASCII case);
// unknown names stay as they are, as Windows leaves them.
std::string Expand(const std::string& text, const std::vector<std::pair<std::string, std::string>>& values) {
  std::string out;
  size_t p = 0;
  while (p < text.size()) {
    size_t open = text.find('%', p);
    size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
    if (close == std::string::npos) {
      out += text.substr(p);
      break;
    }
    out += text.substr(p, open - p);
    const std::string name = text.substr(open + 1, close - open - 1);
    auto it =
        std::find_if(values.begin(), values.end(), [&](const auto& v) { return EqualNoCase(v.first, name); });
    if (it != values.end()) {
      out += it->second;
      p = close + 1;
    } else {
      out += '%';
      p = open + 1;
    }
  }
  return out;
}

// The raw text of a value of the key's section: the part after "name=",
// continuation lines joined. Empty optional when absent.
struct RawValue {
  std::string text;
};

// Finds the section of `key` and, in it, the default value's raw text.
std::optional<RawValue> FindDefaultValue(const std::string& regText, const std::string& key,
                                         const std::string& valueName) {
  bool inKey = false;
  size_t p = 0;
  while (p < regText.size()) {
    size_t eol = regText.find('\n', p);
    if (eol == std::string::npos) eol = regText.size();
    std::string line = regText.substr(p, eol - p);
    p = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      size_t close = line.rfind(']');
      inKey = close != std::string::npos &&
              EqualNoCase(UnescapeRegString(line.substr(1, close - 1), 0, false), key);
      continue;
    }
    if (!inKey) continue;
    if (line.compare(0, valueName.size(), valueName) != 0) continue;
    RawValue value{line.substr(valueName.size())};
    // A value ending in a backslash goes on at the next line.
    while (!value.text.empty() && value.text.back() == '\\' && p < regText.size()) {
      value.text.pop_back();
      eol = regText.find('\n', p);
      if (eol == std::string::npos) eol = regText.size();
      value.text += regText.substr(p, eol - p);
      p = eol + 1;
      if (!value.text.empty() && value.text.back() == '\r') value.text.pop_back();
    }
    return value;
  }
  return std::nullopt;
}

std::optional<std::string> DefaultValueUtf8(
    const std::string& regText, const std::string& key,
    const std::vector<std::pair<std::string, std::string>>& expandUtf8, const std::string& valueName = "@=") {
  std::optional<RawValue> raw = FindDefaultValue(regText, key, valueName);
  if (!raw) return std::nullopt;
  const std::string& v = raw->text;
  if (v.rfind("\"", 0) == 0 || v.rfind("str(1):\"", 0) == 0) {
    return UnescapeRegString(v, v.find('"') + 1, true);
  }
  if (v.rfind("str(2):\"", 0) == 0) return Expand(UnescapeRegString(v, v.find('"') + 1, true), expandUtf8);
  if (v.rfind("hex(1):", 0) == 0) return Utf8OfUtf16Le(HexBytes(v.substr(7)));
  if (v.rfind("hex(2):", 0) == 0) return Expand(Utf8OfUtf16Le(HexBytes(v.substr(7))), expandUtf8);
  return std::nullopt;
}

// The folders a REG_EXPAND_SZ of the prefix may name, with the prefix's own
// Program Files folders where its registry records them.
std::vector<std::pair<std::string, std::string>> PrefixFolders(const std::string& systemReg) {
  const std::string versionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
  auto recorded = [&](const char* name, const char* fallback) {
    std::optional<std::string> value =
        DefaultValueUtf8(systemReg, versionKey, {}, std::string("\"") + name + "\"=");
    return value && !value->empty() ? *value : std::string(fallback);
  };
  const char* user = std::getenv("USER");
  const std::string profile = std::string("C:\\users\\") + (user != nullptr && *user != '\0' ? user : "user");
  const std::string programFiles = recorded("ProgramFilesDir", "C:\\Program Files");
  return {{"SystemDrive", "C:"},
          {"SystemRoot", "C:\\windows"},
          {"windir", "C:\\windows"},
          {"ProgramFiles", programFiles},
          {"ProgramW6432", programFiles},
          {"ProgramFiles(x86)", recorded("ProgramFilesDir (x86)", "C:\\Program Files (x86)")},
          {"CommonProgramFiles", recorded("CommonFilesDir", "C:\\Program Files\\Common Files")},
          {"ProgramData", "C:\\ProgramData"},
          {"ALLUSERSPROFILE", "C:\\ProgramData"},
          {"PUBLIC", "C:\\users\\Public"},
          {"USERPROFILE", profile},
          {"APPDATA", profile + "\\AppData\\Roaming"},
          {"LOCALAPPDATA", profile + "\\AppData\\Local"}};
}

}  // namespace

std::optional<WineClient> ParseWineClientPath(const std::string& stored) {
  if (stored.rfind(kWineMark, 0) != 0) return std::nullopt;
  size_t bar = stored.find('|');
  if (bar == std::string::npos) return std::nullopt;
  WineClient client{stored.substr(sizeof kWineMark - 1, bar - (sizeof kWineMark - 1)),
                    stored.substr(bar + 1)};
  if (client.prefix.empty() || client.program.empty()) return std::nullopt;
  return client;
}

std::string WineClientPathText(const WineClient& client) {
  return kWineMark + client.prefix + "|" + client.program;
}

std::optional<std::string> MapWindowsPath(const std::string& prefixUtf8, const std::string& windowsPath) {
  std::string path;
  for (char c : windowsPath) {
    if (c != '"') path += c;
  }
  std::optional<std::string> utf8 = GbkToUtf8(path);
  if (!utf8 || utf8->size() < 3 || (*utf8)[1] != ':' || ((*utf8)[2] != '\\' && (*utf8)[2] != '/')) {
    return std::nullopt;
  }
  const char drive = AsciiLowerChar((*utf8)[0]);
  if (drive < 'a' || drive > 'z') return std::nullopt;
  std::string mapped = prefixUtf8 + "/dosdevices/" + drive + ":";
  size_t p = 3;
  while (p <= utf8->size()) {
    size_t end = utf8->find_first_of("\\/", p);
    if (end == std::string::npos) end = utf8->size();
    const std::string part = utf8->substr(p, end - p);
    p = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      return std::nullopt;  // a client path never climbs; refuse rather than leave the drive
    }
    std::string next = mapped + "/" + part;
    struct stat info {};
    if (stat(next.c_str(), &info) != 0) {
      const std::vector<std::string> names = DirectoryNames(mapped);
      auto it = std::find_if(names.begin(), names.end(),
                             [&](const std::string& n) { return EqualNoCase(n, part); });
      if (it == names.end()) return std::nullopt;
      next = mapped + "/" + *it;
    }
    mapped = next;
  }
  return mapped;
}

int PeBits(const std::string& linuxPath) {
  std::ifstream in(linuxPath, std::ios::binary);
  char dos[64];
  if (!in.read(dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
  const unsigned long offset = static_cast<unsigned char>(dos[60]) |
                               (static_cast<unsigned char>(dos[61]) << 8) |
                               (static_cast<unsigned long>(static_cast<unsigned char>(dos[62])) << 16) |
                               (static_cast<unsigned long>(static_cast<unsigned char>(dos[63])) << 24);
  char header[6];
  if (!in.seekg(static_cast<std::streamoff>(offset)) || !in.read(header, sizeof header)) return 0;
  if (header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0) return 0;
  const unsigned machine =
      static_cast<unsigned char>(header[4]) | (static_cast<unsigned char>(header[5]) << 8);
  if (machine == 0x014C) return 32;
  if (machine == 0x8664) return 64;
  return 0;
}

std::optional<std::string> ReadRegistryDefault(
    const std::string& regText, const std::string& key,
    const std::vector<std::pair<std::string, std::string>>& expand) {
  std::vector<std::pair<std::string, std::string>> expandUtf8;
  for (const auto& [name, value] : expand)
    expandUtf8.emplace_back(GbkToUtf8Lossy(name), GbkToUtf8Lossy(value));
  std::optional<std::string> value = DefaultValueUtf8(regText, GbkToUtf8Lossy(key), expandUtf8);
  if (!value) return std::nullopt;
  return Utf8ToGbkLossy(*value);
}

std::optional<std::string> WineAliimCommand(const std::string& prefixUtf8) {
  const std::string key = "Software\\Classes\\aliim\\Shell\\Open\\Command";
  const std::string systemReg = ReadWholeFile(prefixUtf8 + "/system.reg");
  std::vector<std::pair<std::string, std::string>> folders;
  for (const auto& [name, value] : PrefixFolders(systemReg))
    folders.emplace_back(name, Utf8ToGbkLossy(value));
  for (const char* file : {"/user.reg", "/system.reg"}) {
    const std::string text = file[1] == 's' ? systemReg : ReadWholeFile(prefixUtf8 + file);
    if (std::optional<std::string> command = ReadRegistryDefault(text, key, folders)) return command;
  }
  return std::nullopt;
}

std::vector<std::string> WinePrefixCandidates() {
  std::vector<std::string> candidates;
  auto add = [&](const std::string& dir) {
    if (dir.empty() || !IsFile(dir + "/system.reg")) return;
    if (std::find(candidates.begin(), candidates.end(), dir) == candidates.end()) candidates.push_back(dir);
  };
  if (const char* prefix = std::getenv("WINEPREFIX")) add(prefix);
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    add(std::string(home) + "/.wine");
    const std::string deepin = std::string(home) + "/.deepinwine";
    for (const std::string& name : DirectoryNames(deepin)) {
      if (IsDirectory(deepin + "/" + name)) add(deepin + "/" + name);
    }
  }
  return candidates;
}

}  // namespace autodeliver
