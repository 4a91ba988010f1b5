#include "tables/data_area.h"

#include <algorithm>
#include <cstring>

#include "tables/table_format.h"

namespace autodeliver {

const char* RecordCache::Read(FileIo& io, const DataArea& area, std::int32_t index, std::int32_t count,
                              bool chunked) {
  const std::size_t size = static_cast<std::size_t>(area.recordSize);
  if (index < 0 || index >= count) return nullptr;
  if (chunked) {
    std::int32_t per = std::max<std::int32_t>(1, table_format::kScanChunkBytes / area.recordSize);
    std::int32_t n = std::min(per, count - index);
    chunk_.resize(static_cast<std::size_t>(n) * size);
    chunkRecords_ = 0;
    if (!ReadFully(io, area.fd, chunk_.data(), chunk_.size(), area.RecordOffset(index))) return nullptr;
    chunkFirst_ = index;
    chunkRecords_ = n;
    return chunk_.data();
  }
  single_.resize(size);
  singleIndex_ = -1;
  if (!ReadFully(io, area.fd, single_.data(), size, area.RecordOffset(index))) return nullptr;
  singleIndex_ = index;
  return single_.data();
}

void RecordCache::Update(std::int32_t index, const char* bytes, int from, std::int32_t recordSize) {
  std::size_t n = static_cast<std::size_t>(recordSize - from);
  if (index >= chunkFirst_ && index < chunkFirst_ + chunkRecords_)
    std::memcpy(chunk_.data() + static_cast<std::size_t>(index - chunkFirst_) * recordSize + from,
                bytes + from, n);
  if (index == singleIndex_) std::memcpy(single_.data() + from, bytes + from, n);
}

void RecordCache::Drop() {
  chunk_.clear();
  chunkRecords_ = 0;
  singleIndex_ = -1;
}

}  // namespace autodeliver
