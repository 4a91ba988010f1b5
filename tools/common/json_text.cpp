#include "common/json_text.h"

#include <cstdio>

namespace autodeliver {

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  std::size_t i = 0;
  auto emit = [&out](unsigned cp) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", cp);
    out += buf;
  };
  while (i < s.size()) {
    unsigned char c = s[i];
    if (c < 0x80) {
      if (c == '"')
        out += "\\\"";
      else if (c == '\\')
        out += "\\\\";
      else if (c == '\n')
        out += "\\n";
      else if (c == '\r')
        out += "\\r";
      else if (c == '\t')
        out += "\\t";
      else if (c < 0x20 || c == 0x7f)
        emit(c);
      else
        out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A well-formed UTF-8 sequence is copied; anything else is one U+FFFD.
    std::size_t len = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c <= 0xdf ? 2 : 0;
    if (c > 0xf4) len = 0;
    bool ok = len > 0 && i + len <= s.size();
    unsigned cp = ok ? (c & (0x7f >> len)) : 0;
    for (std::size_t k = 1; ok && k < len; ++k) {
      unsigned char t = s[i + k];
      if ((t & 0xc0) != 0x80) ok = false;
      cp = (cp << 6) | (t & 0x3f);
    }
    if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) ||
               (len == 4 && (cp < 0x10000 || cp > 0x10ffff)))) {
      ok = false;
    }
    if (ok) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += "\xef\xbf\xbd";
      ++i;
    }
  }
  out += "\"";
  return out;
}

}  // namespace autodeliver
