// The data area of an open table file: where its records lie, and a cache
// that reads them one at a time or, during scans and holds, in chunks of up
// to 160 KiB (table_format::kScanChunkBytes).
//
// The cache is only valid while the table's lock is held: the table drops it
// whenever it takes the lock afresh, and keeps it in step with its own
// writes.
//
// Thread safety: used by the one thread that uses its RecordTable.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "io/file_io.h"

namespace autodeliver {

struct DataArea {
  int fd = -1;
  std::int64_t offset = 0;  // of record 0
  std::int32_t recordSize = 0;

  off_t RecordOffset(std::int32_t index) const {
    return static_cast<off_t>(offset + static_cast<std::int64_t>(index) * recordSize);
  }
};

class RecordCache {
 public:
  // The bytes of record `index` (0-based) of the first `count` records of
  // `area`; with `chunked`, the records from `index` on are read as one
  // chunk. Null on a read failure or an index outside the count. Valid
  // until the next call.
  const char* Get(FileIo& io, const DataArea& area, std::int32_t index, std::int32_t count, bool chunked) {
    if (index >= chunkFirst_ && index < chunkFirst_ + chunkRecords_)
      return chunk_.data() + static_cast<std::size_t>(index - chunkFirst_) * area.recordSize;
    if (index == singleIndex_) return single_.data();
    return Read(io, area, index, count, chunked);
  }
  // Copies bytes [from, recordSize) of record `index` into any cached copy.
  void Update(std::int32_t index, const char* bytes, int from, std::int32_t recordSize);
  void Drop();

 private:
  const char* Read(FileIo& io, const DataArea& area, std::int32_t index, std::int32_t count, bool chunked);

  std::vector<char> chunk_;
  std::int32_t chunkFirst_ = 0;  // 0-based record index
  std::int32_t chunkRecords_ = 0;
  std::vector<char> single_;
  std::int32_t singleIndex_ = -1;
};

}  // namespace autodeliver
