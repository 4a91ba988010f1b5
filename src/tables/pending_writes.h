// PendingWrites: bytes meant for one file, kept in memory and written later
// in as few writes as their offsets allow. A record table collects the
// records and companion blocks of a run of appends here and writes them
// together (record_table.h).
//
// Pieces added back to back are joined as they come; WriteTo puts them in
// order of offset and joins neighbours before it writes. Pieces must not
// overlap.
//
// Thread safety: used by the one thread that uses its RecordTable.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "io/file_io.h"

namespace autodeliver {

class PendingWrites {
 public:
  // A point to go back to (TruncateTo): the pieces as they stand now.
  struct Mark {
    std::size_t pieces = 0;
    std::size_t bytes = 0;
  };

  // Adds `n` bytes to be written at `at`.
  void Add(off_t at, const char* bytes, std::size_t n);
  // Adds `n` zero bytes to be written at `at` and returns them to be filled
  // in; valid until the next Add.
  char* AddZeroed(off_t at, std::size_t n);
  bool empty() const { return pieces_.empty(); }
  // The bytes held, all pieces together.
  std::size_t bytes() const { return data_.size(); }

  Mark GetMark() const { return {pieces_.size(), data_.size()}; }
  // Drops what was added after `mark`.
  void TruncateTo(const Mark& mark);
  // Drops every piece; the memory is kept for the next ones.
  void Clear();

  // Writes every piece; false at the first write that fails (the pieces
  // before it are written, the rest not). The pieces stay until Clear.
  bool WriteTo(FileIo& io, int fd);

 private:
  struct Piece {
    off_t at = 0;          // in the file
    std::size_t from = 0;  // in data_
    std::size_t bytes = 0;
  };
  std::vector<Piece> pieces_;
  std::vector<char> data_;  // the pieces' bytes, in the order added
};

}  // namespace autodeliver
