// Bringing a shop's existing data into a program folder: the four table files
// and card.mdb of an earlier installation (a copied Windows folder, or this
// program's own folder in the older table layout).
//
// MigrateShop finds the tables under `from` (in a "data" folder or beside
// it) whatever became of their names on the way: UTF-8 names, GBK bytes, or
// names that no longer read, which are recognised by their field lists. It
// works on copies, so `from` is never changed (an open of a table cuts
// partial records, which the copies take instead), and checks each table
// fully (every value reads, the companion file's free list is sound); one
// damaged table refuses the whole migration before anything is written.
// Each table is then copied record by record into the installed layout
// (store/table_schema.h), keeping record ids, order, deleted marks and the
// next record id; a table holding a value the installed layout's fixed
// widths cannot hold is copied byte for byte instead, in its older layout,
// and the report names the value. card.mdb is copied byte for byte.
//
// Into a folder whose tables hold cards or sent rows, the migration is
// refused unless `merge` is asked: a merge keeps the folder's tables and adds
// the items whose names they lack, the live stock cards that are neither in
// the stock nor among the sent cards already (same item, number and
// password), and the sent rows not there already (same order number, card
// number and password), so running it twice adds nothing; the folder's
// settings and card.mdb stay, and the old card.mdb is put beside as
// card.imported.mdb. Without merge, the tables (and card.mdb) the folder
// had are moved into a backup folder beside data/ before the new ones are
// renamed in. A merge backs up the folder's tables the same way first.
//
// ConvertShop does the same for `dir`'s own data folder: each table still in
// the older layout is checked, converted, and put in place of the old file,
// which goes into the backup folder.
//
// A dry run finds, checks and converts in a temporary folder and reports what
// would be done; it writes nothing in `dir`.
//
// The caller keeps the program off `dir` meanwhile (its instance lock).
//
// Thread safety: free of shared state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace autodeliver {

struct OldTable {
  enum class Name {
    kUtf8,     // found under its name in UTF-8
    kGbk,      // under its name in GBK bytes
    kByFields  // the name does not read: recognised by its field list
  };
  enum class Outcome {
    kNone,       // not written (a dry run, a refusal)
    kConverted,  // into the installed layout
    kKept,       // byte for byte in its older layout: `tooWide` names the value
    kUnchanged,  // already in the installed layout (convert)
    kMerged      // records added into the folder's table
  };
  std::string file;    // the table's name in the data folder (UTF-8), e.g. "库存卡密.edb"
  std::string source;  // the path it was found at
  Name name = Name::kUtf8;
  std::int32_t records = 0;  // marked ones included
  std::int32_t marked = 0;
  std::vector<std::string> problems;  // what the check found damaged
  Outcome outcome = Outcome::kNone;
  // kKept: the record (1-based), the field and the value (UTF-8) that does not fit.
  std::int32_t tooWideRecord = 0;
  std::string tooWideField;
  std::string tooWideValue;
  std::int32_t added = 0;    // kMerged: records added
  std::int32_t skipped = 0;  // kMerged: records the folder had already (or marked ones)
};

struct OldDataReport {
  enum class Status {
    kDone,
    kDryRun,          // nothing written; the tables' outcomes say what would be done
    kIncomplete,      // a table was not found under `from` (see `missing`)
    kDamaged,         // a table failed its check (see the tables' problems)
    kTargetHasData,   // the folder holds cards or sent rows and no merge was asked
    kTooWideToMerge,  // a value does not fit the folder's table (see `problem`); nothing merged
    kFailed           // see `problem`
  };
  Status status = Status::kFailed;
  std::vector<OldTable> tables;
  std::vector<std::string> missing;  // table names (UTF-8) not found
  std::vector<std::string> ignored;  // files that look like tables and were not used
  std::string cardDatabase;          // card.mdb found under `from`, or empty
  std::string cardDatabaseTarget;    // where it was (or would be) copied
  std::string backup;                // the backup folder made, or empty
  std::int64_t targetCards = 0;      // live stock cards the folder held
  std::int64_t targetSent = 0;       // live sent rows the folder held
  std::string problem;
};

struct OldDataOptions {
  bool dryRun = false;
  bool merge = false;
};

// See above. `dir` is the program folder (the one holding data/); it is
// created (0700) when missing.
OldDataReport MigrateShop(const std::string& from, const std::string& dir, const OldDataOptions& options);
OldDataReport ConvertShop(const std::string& dir, bool dryRun);

}  // namespace autodeliver
