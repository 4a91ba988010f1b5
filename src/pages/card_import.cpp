// The card import split; see card_import.h.
#include "pages/card_import.h"

#include "text/gbk.h"

namespace autodeliver {

namespace {

void KeepLine(std::string& leftover, std::string_view line) {
  if (!leftover.empty()) leftover += "\r\n";
  leftover.append(line);
}

}  // namespace

CardImportSplit SplitCardLines(std::string_view text) {
  CardImportSplit result;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\r\n", start);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 2;
    if (last && line.empty()) break;  // text ending in a line break
    if (RemoveSpaces(line).empty()) continue;
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) {
      // Not a card: the line stays in the box for the seller to mend.
      KeepLine(result.leftover, line);
      continue;
    }
    result.cards.push_back(
        ImportedCard{std::string(line.substr(0, space)), std::string(line.substr(space + 1))});
  }
  return result;
}

std::string WithCrLfLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace autodeliver
