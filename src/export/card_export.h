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

#include <string>

namespace autodeliver {

// "ODBC;DBQ=" + path + ";DefaultDir=" + path up to its last separator +
// ";Driver={Microsoft Access Driver (*.mdb)};FIL=MS Access;".
std::string CardExportConnectionText(const std::string& filePath);

// "insert into biao ([dingdan],[kahao],[mima]) values ('o','c','p')" with
// every single quote inside a value doubled.
std::string CardExportStatement(const std::string& orderNumber, const std::string& cardNumber,
                                const std::string& cardPassword);

// Inserts the card into `programDir` + "/card.mdb". Returns whether the row
// was stored; a failure changes nothing.
bool ExportCardToAccessAt(const std::string& programDir, const std::string& orderNumber,
                          const std::string& cardNumber, const std::string& cardPassword);

// ExportCardToAccessAt(ProgramDir(), ...). Called once per delivered card;
// the caller goes on whatever the result.
bool ExportCardToAccess(const std::string& orderNumber, const std::string& cardNumber,
                        const std::string& cardPassword);

}  // namespace autodeliver
