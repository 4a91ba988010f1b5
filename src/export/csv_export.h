// CSV files of the seller's cards, for spreadsheet programs: the sent-cards
// table (all of it or the rows the page shows) and an item's cards in stock.
// The sent-cards page, the card-stock page and the table tool write the same
// bytes for the same rows.
//
//   - One record per line, fields separated by commas, lines ended by CR LF.
//   - A field holding a comma, a double quote, a CR or an LF is put in
//     double quotes, its quotes doubled; every other field is written as it
//     is, so the values read back unchanged.
//   - A field that a spreadsheet would take as a formula, one beginning with
//     "=", "+", "-", "@", a TAB or a CR, is written with an apostrophe in
//     front, the mark spreadsheet programs take for "text, not a formula";
//     so is a field that itself begins with an apostrophe, so that a reader
//     gets every value back by one rule: a field that begins with an
//     apostrophe loses that one apostrophe. The value a card line supplied
//     never runs as a formula in the seller's spreadsheet.
//   - The first line names the columns with the table's field names: the
//     eight of the sent-cards table, or 宝贝名称, 宝贝卡号, 宝贝卡密 for the
//     stock.
//   - UTF-8 starting with a byte-order mark (EF BB BF), which spreadsheet
//     programs take as the sign of UTF-8; or, on request, the tables' own GBK
//     bytes without a mark. In UTF-8, bytes of a text that are not GBK become
//     U+FFFD.
//
// The files hold card passwords: they are created owner-only (0600), written
// under a temporary name and renamed into place, so a failed write never
// leaves half a file under the chosen name.
//
// Thread safety: free functions without shared state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/rows.h"

namespace autodeliver {

enum class CsvEncoding {
  kUtf8WithBom,  // the default
  kGbk,
};

// One field (GBK or UTF-8 bytes; neither has a comma, quote, CR or LF
// inside a double-byte character), quoted when it must be.
std::string CsvField(std::string_view text);

// `text` as a spreadsheet shows it as text: with an apostrophe in front when
// it begins with "=", "+", "-", "@", TAB, CR or an apostrophe, else as it is.
std::string SpreadsheetText(std::string_view text);

// The CSV document of the sent cards `cards[rows[i]]`, in the order of
// `rows`; every card when `rows` is null.
std::string SentCardsCsv(const std::vector<SentCard>& cards, const std::vector<int>* rows,
                         CsvEncoding encoding);

// The CSV document of stock cards (item name, card number, password).
std::string StockCardsCsv(const std::vector<StockCard>& cards, CsvEncoding encoding);

// Writes `bytes` to `path` (UTF-8 file name) as described above. False when
// the file could not be written; `path` is then as it was.
bool WriteExportFile(const std::string& path, std::string_view bytes);

}  // namespace autodeliver
