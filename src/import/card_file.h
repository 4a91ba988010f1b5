// A card file: a text file of cards that the seller imports instead of
// pasting, turned into the lines of the import (card_lines.h).
//
// Encoding, decided by the content: a UTF-8 byte-order mark means UTF-8; a
// UTF-16 mark means UTF-16 (what a Windows editor writes as "Unicode");
// otherwise a file that is valid UTF-8 throughout is UTF-8 and any other
// file is GBK. Lines end with CR LF, LF or a lone CR.
//
// Layout: plain card lines follow the rules of the import box (number, one
// space, password). A CSV file (chosen by its ".csv" name) holds one card
// per line in two columns, card number and password, separated by a comma;
// a field may be put in double quotes (a quote inside is doubled), and
// then may hold commas and spaces; a quoted field does not run over a line
// break, since no card value holds one. Empty columns after the second are
// ignored (spreadsheets add them). A first line whose first column is
// "卡号" or "卡密" is a header and skipped. Values are taken exactly, not
// trimmed.
//
// A line is not a card (and is kept for the seller, see KeptLinesFileBytes)
// when it breaks its layout's rule, when its bytes are not valid in the
// file's encoding, when it holds a character that GBK does not have, or
// when it holds a zero byte (the stock cannot keep one).
//
// Thread safety: free functions without shared state.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/card_lines.h"

namespace autodeliver {

enum class CardFileEncoding { kUtf8, kUtf8WithBom, kUtf16, kGbk };
enum class CardFileLayout { kLines, kCsv };

struct CardFile {
  CardFileEncoding encoding = CardFileEncoding::kUtf8;
  CardFileLayout layout = CardFileLayout::kLines;
  // The non-blank lines in file order, in GBK; a line that cannot be shown
  // in GBK has "?" for what it lacks.
  std::vector<CardLine> lines;
  // Each line's bytes as they stand in the file (UTF-16 files: as UTF-8),
  // without the line break; parallel to `lines`.
  std::vector<std::string> sourceLines;
  // Each line's number in the file, from 1, counting every line break
  // (blank lines and a skipped header included); parallel to `lines`.
  std::vector<std::size_t> lineNumbers;
  // The file's first line break ("\r\n" or "\n"; "\r\n" when it has none).
  std::string lineBreak = "\r\n";
  // A CSV header line was skipped.
  bool skippedHeader = false;
};

// kCsv for a file name ending in ".csv" (any letter case), else kLines.
CardFileLayout LayoutOfFileName(std::string_view fileName);

// Reads the bytes of a card file.
CardFile ReadCardFile(std::string_view bytes, CardFileLayout layout);

// Reads the file at `path` (UTF-8 file name), the layout chosen by its
// name. nullopt when it cannot be read or is larger than `maxBytes`.
std::optional<CardFile> LoadCardFile(const std::string& path, std::size_t maxBytes = 256u << 20);

// The bytes of a file holding the lines `indexes` of `file` as they stood in
// the source, with its line break after each: UTF-8 files as they were (with
// their mark when they had one), UTF-16 files as UTF-8 with a mark, GBK
// files as GBK.
std::string KeptLinesFileBytes(const CardFile& file, const std::vector<std::size_t>& indexes);

// Writes the lines `indexes` of `file` into a new file beside the source
// (`sourcePath`): "<name>.未导入<ext>", or "<name>.未导入-2<ext>" and so on
// when that exists; an existing file is never overwritten. Returns the path
// written, nullopt when nothing could be written.
std::optional<std::string> WriteKeptLinesFile(const std::string& sourcePath, const CardFile& file,
                                              const std::vector<std::size_t>& indexes);

}  // namespace autodeliver
