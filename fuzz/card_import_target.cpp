// Fuzz target: the card import. The bytes are the text of the import box
// (any line ends); it is brought to CR LF line ends and split into cards.
//
// When the stock page also reads card files, their decoder goes into
// ImportTextOf: the target then covers files and pasted text alike.
#include "fuzz_targets.h"
#include "pages/card_import.h"

namespace autodeliver::fuzz {
namespace {

// The text the import splits, from the bytes the seller hands in. Pasted
// text is taken as it is.
std::string ImportTextOf(std::string_view bytes) { return std::string(bytes); }

}  // namespace

int FuzzCardImport(const std::uint8_t* data, std::size_t size) {
  const std::string text = WithCrLfLineEnds(ImportTextOf({reinterpret_cast<const char*>(data), size}));
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
