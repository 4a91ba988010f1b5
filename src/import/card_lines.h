// The line rules of the card import: how text pasted into the import box
// (or read from a card file, see card_file.h) becomes cards.
//
// Each line is one card: the text up to the first ASCII space is the card
// number, the rest of the line after that space is the password (it may
// hold further spaces). Lines end with CR LF, as the import box hands its
// text over; the last line counts as a line even without a final line
// break. A line without any space is not a card: it is kept, together with
// every other line that was not imported, so that the seller can mend it
// instead of losing it. Blank lines (nothing but ASCII and full-width
// spaces) are neither cards nor kept.
//
// Thread safety: free functions without shared state.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/rows.h"

namespace autodeliver {

// One non-blank line of an import.
struct CardLine {
  // The line as the seller sees it (GBK, without its line break).
  std::string text;
  // Its card; nullopt when the line is not a card.
  std::optional<ImportedCard> card;

  bool operator==(const CardLine&) const = default;
};

// One line (GBK, without its line break) by the rule above; nullopt for a
// blank line.
std::optional<CardLine> ReadCardLine(std::string_view line);

// The non-blank lines of an import text (GBK, CR LF line ends), in order.
std::vector<CardLine> ReadCardLines(std::string_view text);

// True when `line` holds nothing but ASCII and full-width spaces.
bool IsBlankLine(std::string_view line);

// The texts of `lines`, joined by CR LF, without a final line break: how
// lines that were not imported go back into the import box.
std::string JoinLineTexts(const std::vector<const CardLine*>& lines);

struct CardImportSplit {
  // The cards, in the order of their lines.
  std::vector<ImportedCard> cards;
  // The lines that were not imported, in their order, joined by CR LF and
  // without a final line break; empty when every line was used.
  std::string leftover;
};

// Splits the text of the import box (GBK, CR LF line ends) into cards and
// the lines that stay in the box.
CardImportSplit SplitCardLines(std::string_view text);

// Turns the line ends of an edit box's text (LF, CR LF or a lone CR) into
// CR LF, the form the import reads.
std::string WithCrLfLineEnds(std::string_view text);

}  // namespace autodeliver
