// Small text files of the program's own in the data folder (the order rules
// and holds, the marks of undelivered orders): a first line naming the
// format and its version, then one record a line, each ending with LF.
//
// ReadLineFile gives the lines after the header, skipping empty ones. A file
// that is not there has no lines, and so has an empty one (created but
// never written): both read as "nothing kept yet". A file whose first line
// is another header is not one of these files and reads as kCorrupt, so that
// its owner never overwrites it.
//
// ReplaceLineFile writes the whole file crash-safely: the new content goes
// to "<file>.tmp", is synced, renamed over the file, and the folder is
// synced, so after a crash the file holds either the old or the new lines,
// never a mix. On failure the temporary file is removed and the old file
// stays as it was.
//
// Both go through a FileIo (file_io.h) for their reads, writes, syncs and
// the rename, so the fault tests can fail them; a failure comes back as the
// Status of the call that failed, naming the file.
//
// Thread safety: no shared state; the caller serialises the
// read-modify-write of one file (the store lock does for the data folder).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/file_io.h"
#include "io/status.h"

namespace autodeliver {

// The lines after `header` into `lines` (cleared first).
Status ReadLineFile(const std::string& path, std::string_view header, std::vector<std::string>* lines,
                    FileIo& io = DefaultFileIo());

// Replaces the file with `header` and `lines` (each written as it is, with
// an LF after it).
Status ReplaceLineFile(const std::string& path, std::string_view header,
                       const std::vector<std::string>& lines, FileIo& io = DefaultFileIo());

}  // namespace autodeliver
