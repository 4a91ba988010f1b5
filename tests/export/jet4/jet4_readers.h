// Test helpers: a Jet4 table as two independent readers see it: mdbtools
// (mdb-export, mdb-count) and the npm package mdb-reader (installed into the
// build tree on first use).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace autodeliver::testing {

// A row as read back: UTF-8 values, nullopt for null.
using ReadRow = std::vector<std::optional<std::string>>;

struct ReadTable {
  long count = -1;  // the row count the reader reports
  std::vector<ReadRow> rows;
};

// nullopt when the reader fails (cannot open the file or the table).
// mdbtools shows a null and an empty text alike; both come back as "".
std::optional<ReadTable> ReadWithMdbtools(const std::string& file, const std::string& table);
std::optional<ReadTable> ReadWithMdbReader(const std::string& file, const std::string& table,
                                           const std::vector<std::string>& columns);

}  // namespace autodeliver::testing
