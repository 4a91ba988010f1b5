// The card import line rules; see card_lines.h.
#include "import/card_lines.h"

namespace autodeliver {

bool IsBlankLine(std::string_view line) {
  for (size_t i = 0; i < line.size();) {
    if (line[i] == ' ') {
      ++i;
    } else if (i + 1 < line.size() && static_cast<unsigned char>(line[i]) == 0xA1 &&
               static_cast<unsigned char>(line[i + 1]) == 0xA1) {
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

std::optional<CardLine> ReadCardLine(std::string_view line) {
  if (IsBlankLine(line)) return std::nullopt;
  CardLine out;
  out.text = std::string(line);
  const size_t space = line.find(' ');
  // A line without a space is not a card: it stays for the seller to mend.
  if (space != std::string_view::npos)
    out.card = ImportedCard{std::string(line.substr(0, space)), std::string(line.substr(space + 1))};
  return out;
}

std::vector<CardLine> ReadCardLines(std::string_view text) {
  std::vector<CardLine> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\r\n", start);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 2;
    if (last && line.empty()) break;  // text ending in a line break
    if (std::optional<CardLine> read = ReadCardLine(line)) lines.push_back(std::move(*read));
  }
  return lines;
}

std::string JoinLineTexts(const std::vector<const CardLine*>& lines) {
  std::string out;
  for (const CardLine* line : lines) {
    if (!out.empty()) out += "\r\n";
    out += line->text;
  }
  return out;
}

CardImportSplit SplitCardLines(std::string_view text) {
  CardImportSplit result;
  std::vector<const CardLine*> kept;
  std::vector<CardLine> lines = ReadCardLines(text);
  for (CardLine& line : lines) {
    if (line.card) {
      result.cards.push_back(std::move(*line.card));
    } else {
      kept.push_back(&line);
    }
  }
  result.leftover = JoinLineTexts(kept);
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
