// The escape of the store's line files; see escaped_fields.h.
#include "store/escaped_fields.h"

namespace autodeliver {

std::string EscapeField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<std::vector<std::string>> SplitEscapedLine(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\') {
      if (++i >= line.size()) return std::nullopt;
      switch (line[i]) {
        case '\\':
          fields.back() += '\\';
          break;
        case 't':
          fields.back() += '\t';
          break;
        case 'r':
          fields.back() += '\r';
          break;
        case 'n':
          fields.back() += '\n';
          break;
        default:
          return std::nullopt;
      }
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace autodeliver
