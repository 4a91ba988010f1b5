#include "tables/pending_writes.h"

#include <algorithm>
#include <cstring>

namespace autodeliver {

char* PendingWrites::AddZeroed(off_t at, std::size_t n) {
  const std::size_t from = data_.size();
  data_.resize(from + n, 0);
  if (n == 0) return data_.data() + from;
  if (!pieces_.empty()) {
    Piece& last = pieces_.back();
    if (last.at + static_cast<off_t>(last.bytes) == at && last.from + last.bytes == from) {
      last.bytes += n;
      return data_.data() + from;
    }
  }
  pieces_.push_back({at, from, n});
  return data_.data() + from;
}

void PendingWrites::Add(off_t at, const char* bytes, std::size_t n) {
  if (n > 0) std::memcpy(AddZeroed(at, n), bytes, n);
}

void PendingWrites::TruncateTo(const Mark& mark) {
  pieces_.resize(std::min(pieces_.size(), mark.pieces));
  if (!pieces_.empty()) {
    Piece& last = pieces_.back();
    if (last.from + last.bytes > mark.bytes) last.bytes = mark.bytes - last.from;
  }
  data_.resize(std::min(data_.size(), mark.bytes));
}

void PendingWrites::Clear() {
  pieces_.clear();
  data_.clear();
}

bool PendingWrites::WriteTo(FileIo& io, int fd) {
  std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) { return a.at < b.at; });
  std::vector<char> joined;
  for (std::size_t i = 0; i < pieces_.size();) {
    // Neighbours in the file go out in one write; their bytes lie side by
    // side in data_ when they were added in order.
    std::size_t end = i + 1;
    std::size_t bytes = pieces_[i].bytes;
    bool together = true;
    while (end < pieces_.size() && pieces_[end].at == pieces_[i].at + static_cast<off_t>(bytes)) {
      together = together && pieces_[end].from == pieces_[i].from + bytes;
      bytes += pieces_[end].bytes;
      ++end;
    }
    const char* out = data_.data() + pieces_[i].from;
    if (!together) {
      joined.clear();
      for (std::size_t k = i; k < end; ++k)
        joined.insert(joined.end(), data_.data() + pieces_[k].from,
                      data_.data() + pieces_[k].from + pieces_[k].bytes);
      out = joined.data();
    }
    if (!WriteFully(io, fd, out, bytes, pieces_[i].at)) return false;
    i = end;
  }
  return true;
}

}  // namespace autodeliver
