// The card export file: a Jet4 (Access 2000) database written by this
// program's own code.
//
// CreateCardDatabase lays out a new file holding the table `biao` with the
// three text columns `dingdan`, `kahao` and `mima` and no index.
// AppendTextRow appends one row of text values to a table of an existing
// file: the row goes onto the table's last data page, or onto a page added at
// the end of the file when it does not fit; the table's row count and its two
// usage maps (pages owned, pages with free space) follow.
//
// Crash safety: an append reads only the pages it needs (the database
// page, the catalog, the table's definition, its usage maps and its last data
// page) and writes only the few it changes, in place, behind an undo journal
// "<path>.journal" (jet4_journal.h). The pages go to the file in an order in
// which every prefix is a file that mdbtools and other readers read with all
// earlier rows, and the journal takes back a change cut short: a crash or a
// failed write (a full disk) at any moment leaves the old rows, or the old
// rows plus the new one, never a broken row; a failed call leaves the file
// as it was. The next append settles a journal a crash left behind before it
// reads the file, and removes a stale "<path>.new" that earlier versions,
// which replaced the whole file, may have left. When `path` is a symbolic
// link, the file it names is the one changed. Creating a database replaces
// the file as a whole (written to "<path>.new", flushed and renamed) and
// drops any journal beside it.
//
// Thread safety: changes are serialised inside the process and across
// processes (an advisory flock on the file's folder), so concurrent callers
// are safe; each call opens, changes and closes the file (once: a caller
// that needs the row count before its rows gets it from the same opening,
// AppendTextRows' `before`). Readers outside
// this program may read the file at any time and see a whole file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io/status.h"

namespace autodeliver {

class FileIo;

// Creates the file at `path` (replacing any file there) with the empty table
// `biao`. Returns false when the file cannot be written.
bool CreateCardDatabase(const std::string& path);

// Appends one row to `table` of the Jet4 file at `path`: `columns[i]` (a
// column name, compared without regard to ASCII case) receives the GBK text
// `gbkValues[i]`; columns not named stay null. Fails, leaving the file
// unchanged, when the file is missing or is not a Jet4 database, the
// table or a column is missing, a named column is not a text column, the
// table has an index or an auto-number column (which this writer does not
// maintain), a value is not valid GBK or is longer than its column, or the
// file cannot be written. `io` replaces the file-system calls (tests inject
// failures); null means the real ones. The Status tells the cause: the
// failed call's errno and file (a full disk, an I/O error), kNotFound for a
// missing file, table or column, kTooLong for a value longer than its
// column, kCorrupt for a file or value this writer cannot take.
Status AppendTextRow(const std::string& path, const std::string& table,
                     const std::vector<std::string>& columns, const std::vector<std::string>& gbkValues,
                     FileIo* io = nullptr);

// Called by AppendTextRows once the file is open, locked and settled and the
// rows are checked, with the table's row count before them, just before the
// file is changed; a failed Status stops the append, the file unchanged,
// and is what AppendTextRows returns.
using BeforeAppend = std::function<Status(std::uint32_t rowCountBefore)>;

// Appends the rows to `table` as AppendTextRow appends one, in one change of
// the file (one pass through its undo journal): all of them or, on any
// failure, none, with the cause as AppendTextRow tells it. Ok for no rows
// (`before` is then not called).
Status AppendTextRows(const std::string& path, const std::string& table,
                      const std::vector<std::string>& columns,
                      const std::vector<std::vector<std::string>>& gbkRows, FileIo* io = nullptr,
                      const BeforeAppend& before = {});

// Settles the file at `path` as the next append would (a change cut short is
// taken back or kept whole, jet4_journal.h), so that readers outside this
// program find a whole file. True when the file is whole now, also when
// there is no file or nothing was left to settle.
bool SettleJet4File(const std::string& path, FileIo* io = nullptr);

// The row count of `table` in the settled file at `path`; nullopt when the
// file or the table cannot be read.
std::optional<std::uint32_t> Jet4RowCount(const std::string& path, const std::string& table,
                                          FileIo* io = nullptr);

// Whether a row at position `fromRow` (0-based, in storage order, which is
// the order of the appends) or later of `table` in the settled file at
// `path` holds exactly the GBK texts `gbkValues` in `columns`; nullopt when
// the file, the table or a column cannot be read.
std::optional<bool> HasJet4TextRow(const std::string& path, const std::string& table,
                                   const std::vector<std::string>& columns,
                                   const std::vector<std::string>& gbkValues, std::uint32_t fromRow,
                                   FileIo* io = nullptr);

// Carries out one SQL statement of the form
//   insert into T ([c1],[c2],...) values ('v1','v2',...)
// against the Jet4 file named by the DBQ part of `connectionText` (an ODBC
// connection text such as "ODBC;DBQ=/dir/card.mdb;DefaultDir=/dir;...").
// Inside a quoted value a doubled quote stands for one quote. Fails when the
// statement does not have that form or the insert fails (AppendTextRow's
// causes).
Status ExecuteJet4Insert(const std::string& connectionText, const std::string& sql, FileIo* io = nullptr);

}  // namespace autodeliver
