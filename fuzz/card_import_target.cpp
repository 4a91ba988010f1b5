// Fuzz target: the card import. The bytes are both the text of the import
// box (any line ends, brought to CR LF and split into cards) and a card
// file (decoded as plain lines and as CSV).
#include "fuzz_targets.h"
#include "import/card_file.h"
#include "import/card_lines.h"

namespace autodeliver::fuzz {
namespace {

void CheckCardFile(std::string_view bytes, CardFileLayout layout) {
  const CardFile file = ReadCardFile(bytes, layout);
  Require(file.sourceLines.size() == file.lines.size(), "every line keeps its source");
  for (const CardLine& line : file.lines) {
    Require(line.text.find('\n') == std::string::npos, "a file line holds no line break");
    // A plain line splits at its first space; a CSV column may hold spaces.
    if (line.card && layout == CardFileLayout::kLines)
      Require(line.card->cardNumber.find(' ') == std::string::npos, "a card number has no space");
  }
}

}  // namespace

int FuzzCardImport(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckCardFile(bytes, CardFileLayout::kLines);
  CheckCardFile(bytes, CardFileLayout::kCsv);
  const std::string text = WithCrLfLineEnds(bytes);
  const CardImportSplit split = SplitCardLines(text);
  std::size_t kept = 0;
  for (const ImportedCard& card : split.cards) {
    Require(card.cardNumber.find(' ') == std::string::npos, "a card number ends at the first space");
    Require(card.cardNumber.find("\r\n") == std::string::npos &&
                card.cardPassword.find("\r\n") == std::string::npos,
            "a card stays within its line");
    kept += card.cardNumber.size() + 1 + card.cardPassword.size();
  }
  Require(kept + split.leftover.size() <= text.size(), "the split invents no text");
  // Text with CR LF line ends is left as it is.
  Require(WithCrLfLineEnds(text) == text, "line ends are brought to CR LF once for all");
  return 0;
}

}  // namespace autodeliver::fuzz
