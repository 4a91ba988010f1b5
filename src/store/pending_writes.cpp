#include "store/pending_writes.h"

#include <algorithm>

namespace autodeliver {

void PendingWrites::Add(off_t at, const char* bytes, std::size_t n) {
  if (n == 0) return;
  bytes_ += n;
  if (!pieces_.empty()) {
    Piece& last = pieces_.back();
    if (last.at + static_cast<off_t>(last.bytes.size()) == at) {
      last.bytes.append(bytes, n);
      return;
    }
  }
  pieces_.push_back({at, std::string(bytes, n)});
}

PendingWrites::Mark PendingWrites::GetMark() const {
  return {pieces_.size(), pieces_.empty() ? 0 : pieces_.back().bytes.size()};
}

void PendingWrites::TruncateTo(const Mark& mark) {
  while (pieces_.size() > mark.pieces) {
    bytes_ -= pieces_.back().bytes.size();
    pieces_.pop_back();
  }
  if (!pieces_.empty() && pieces_.back().bytes.size() > mark.lastBytes) {
    bytes_ -= pieces_.back().bytes.size() - mark.lastBytes;
    pieces_.back().bytes.resize(mark.lastBytes);
  }
}

void PendingWrites::Clear() {
  pieces_.clear();
  bytes_ = 0;
}

bool PendingWrites::WriteTo(FileIo& io, int fd) {
  std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) { return a.at < b.at; });
  std::string joined;
  for (std::size_t i = 0; i < pieces_.size();) {
    // Neighbours on the file go out in one write.
    std::size_t end = i + 1;
    off_t next = pieces_[i].at + static_cast<off_t>(pieces_[i].bytes.size());
    while (end < pieces_.size() && pieces_[end].at == next) {
      next += static_cast<off_t>(pieces_[end].bytes.size());
      ++end;
    }
    const std::string* out = &pieces_[i].bytes;
    if (end > i + 1) {
      joined.clear();
      for (std::size_t k = i; k < end; ++k) joined += pieces_[k].bytes;
      out = &joined;
    }
    if (!WriteFully(io, fd, out->data(), out->size(), pieces_[i].at)) return false;
    i = end;
  }
  return true;
}

}  // namespace autodeliver
