// The header and field list of a record-table file (layout in
// table_format.h): reading and checking them when a table is opened, and
// writing them when the installation tool creates a table (CreateTable,
// declared in record_table.h, lives beside them).
//
// Thread safety: free of shared state; the caller holds the table's lock.
#pragma once

#include <cstdint>
#include <vector>

#include "io/file_io.h"
#include "tables/record_table.h"

namespace autodeliver {

struct TableHeader {
  std::int32_t version = 0;
  std::int32_t recordCount = 0;
  std::int32_t nextId = 1;
  std::int32_t recordSize = 0;
  std::vector<FieldInfo> fields;
  std::int64_t dataOffset = 0;  // where record 0 starts
  bool hasBlocks = false;       // a field lives in the companion file
};

// Reads the header and the field list of the table file `fd` and checks
// them: magic, a version not above the one this engine knows, a record size
// above 0, a record count of 0 or more, a next record id above 0, a field
// count above 0, and every field named, typed and lying inside the record
// behind the id. False on a failed check or read.
bool ReadTableHeader(FileIo& io, int fd, TableHeader* header);

// Lowers the record count *count to the whole records present (writing it
// to the header) and cuts the file behind the last counted record, dropping
// a record that was never written whole or trailing bytes.
bool FitToWholeRecords(FileIo& io, int fd, const TableHeader& header, std::int32_t* count);

}  // namespace autodeliver
