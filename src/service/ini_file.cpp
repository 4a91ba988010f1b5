// The INI reader and whole-file writer; see ini_file.h.
#include "service/ini_file.h"

#include <fstream>
#include <iterator>

namespace autodeliver {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string IniValue(std::string_view content, std::string_view section, std::string_view key) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  bool inSection = false;
  while (!content.empty()) {
    const std::size_t eol = content.find('\n');
    std::string_view line = TrimBlanks(content.substr(0, eol));
    content = eol == std::string_view::npos ? std::string_view() : content.substr(eol + 1);
    if (!line.empty() && line.front() == '[') {
      line.remove_prefix(1);
      if (inSection) break;  // only the first section of that name is read
      const std::size_t close = line.find(']');
      inSection = EqualIgnoringAsciiCase(TrimBlanks(line.substr(0, close)), section);
      continue;
    }
    if (!inSection) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !EqualIgnoringAsciiCase(TrimBlanks(line.substr(0, eq)), key))
      continue;
    std::string_view value = TrimBlanks(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kIniValueLimit));
  }
  return std::string();
}

std::string ReadIniValue(const std::string& path, std::string_view section, std::string_view key) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return IniValue(content, section, key);
}

bool WriteWholeFile(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return !out.fail();
}

}  // namespace autodeliver
