// The export of every delivered card into `card.mdb` beside the program, table
// `biao`, so that other tools can read the delivered cards.
//
// The connection text and the insert statement are built as the ODBC export
// of the Windows program builds them; on this platform the statement is
// carried out by the program's own Jet4 writer (jet4/jet4_file.h) against
// the file named in the connection text. Single quotes inside a value are
// doubled, so every card can be exported.
//
// Thread safety: the functions may be called from any thread; writes to one
// file are serialised by the writer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io/status.h"

namespace autodeliver {

class ShopContext;

// "ODBC;DBQ=" + path + ";DefaultDir=" + path up to its last separator +
// ";Driver={Microsoft Access Driver (*.mdb)};FIL=MS Access;".
std::string CardExportConnectionText(const std::string& filePath);

// "insert into biao ([dingdan],[kahao],[mima]) values ('o','c','p')" with
// every single quote inside a value doubled.
std::string CardExportStatement(const std::string& orderNumber, const std::string& cardNumber,
                                const std::string& cardPassword);

// Inserts the card into `programDir` + "/card.mdb". Ok when the row was
// stored; a failure changes nothing and tells its cause (AppendTextRow,
// jet4/jet4_file.h).
Status ExportCardToAccessAt(const std::string& programDir, const std::string& orderNumber,
                            const std::string& cardNumber, const std::string& cardPassword);

// ExportCardToAccessAt(shop.ProgramDir(), ...). Called once per delivered card;
// the caller goes on whatever the result.
Status ExportCardToAccess(const ShopContext& shop, const std::string& orderNumber,
                          const std::string& cardNumber, const std::string& cardPassword);

// One row of `biao`.
struct CardExportRow {
  std::string orderNumber;
  std::string cardNumber;
  std::string cardPassword;
};

// Inserts the rows, in their order, into `programDir` + "/card.mdb" in one
// change of the file: all or, on a failure, none, which tells its cause
// (AppendTextRows, jet4/jet4_file.h). Ok for no rows. `before`, when given,
// is called with the row count before the rows, with the file open and
// locked, just before it is changed; its failure stops the export.
Status ExportCardsToAccessAt(const std::string& programDir, const std::vector<CardExportRow>& rows,
                             const std::function<Status(std::uint32_t)>& before = {});
Status ExportCardsToAccess(const ShopContext& shop, const std::vector<CardExportRow>& rows,
                           const std::function<Status(std::uint32_t)>& before = {});

// The number of rows of `biao` in `programDir` + "/card.mdb", read after the
// file is settled; nullopt when it cannot be read.
std::optional<std::uint32_t> CardExportRowCountAt(const std::string& programDir);
std::optional<std::uint32_t> CardExportRowCount(const ShopContext& shop);

// Whether the row (order, card number, password) stands in card.mdb at row
// `fromRow` (0-based, in the order of the appends) or later; nullopt when
// the file cannot be read. With the row count taken before an append, this
// tells whether that append reached the file.
std::optional<bool> CardRowExportedAt(const std::string& programDir, const std::string& orderNumber,
                                      const std::string& cardNumber, const std::string& cardPassword,
                                      std::uint32_t fromRow);
std::optional<bool> CardRowExported(const ShopContext& shop, const std::string& orderNumber,
                                    const std::string& cardNumber, const std::string& cardPassword,
                                    std::uint32_t fromRow);

// Brings a card.mdb that a crash or a power cut left in the middle of an
// append back to a whole file (with or without that row), so that other
// readers can read it. True when the file is whole (or missing).
bool SettleCardExportAt(const std::string& programDir);
bool SettleCardExport(const ShopContext& shop);

}  // namespace autodeliver
