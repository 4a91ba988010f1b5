// Copying a table's records into a new table of another field layout, and
// reading a table file's field names without opening it.
//
// CopyTableRecords creates the target with the given fields and writes every
// record of the source into it, value by value by field name (letter case of
// ASCII letters ignored): the record ids, the order, the deleted marks and
// the next record id stay as they were, so nothing that refers to a record by
// its id or number notices the copy. A text too long for a fixed-width field
// of the target is never cut: the copy stops there, removes what it wrote and
// names the record, the field and the value. After the copy the target is
// read back and held against the source record by record.
//
// Thread safety: free of shared state; the files must not be in use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tables/record_table.h"

namespace autodeliver {

struct TableCopy {
  enum class Status {
    kCopied,
    kTooWide,  // a value does not fit a fixed-width field (see below); nothing is left behind
    kFailed    // the source cannot be read, the target cannot be made, or the read-back differs
  };
  Status status = Status::kFailed;
  std::int32_t records = 0;  // copied, marked ones included
  std::int32_t marked = 0;
  // kTooWide: the record's number (1-based), the field (GBK) and its value
  // (GBK); kFailed: what failed.
  std::int32_t recordNumber = 0;
  std::string field;
  std::string value;
  std::string error;
};

// What a full check of a table found: the table opens (which cuts partial
// records and lowers counts as every open does), every value of every record
// reads, and the companion file's free list agrees with the blocks in use.
struct TableHealth {
  bool opened = false;
  std::int32_t records = 0;
  std::int32_t marked = 0;
  std::vector<std::string> problems;  // what is damaged, one line each (field names UTF-8)
  bool Sound() const { return opened && problems.empty(); }
};
TableHealth CheckTableFile(const std::string& path);

// Copies the table `from` into a new table `to` with `fields` (see above).
// Every field of `fields` must exist in the source; fields of the source not
// named there are left out.
TableCopy CopyTableRecords(const std::string& from, const std::string& to,
                           const std::vector<FieldSpec>& fields);

// The field names (GBK) of the table file at `path`, read from its field
// list without opening it as a table; nullopt when the file is not a table
// file or its field list is damaged.
std::optional<std::vector<std::string>> ReadTableFieldNames(const std::string& path);

}  // namespace autodeliver
