// Replacing a file as a whole without ever exposing a partial file: the new
// bytes go to "<path>.new", are flushed, and the side file is renamed over
// `path`; the directory is flushed after the rename. On any failure the side
// file is removed and `path` is left as it was.
//
// Used to create a card database; appends change the file in place instead
// (jet4_journal.h).
//
// Thread safety: callers serialise changes to one path (jet4_file.cpp holds
// the folder's lock while it replaces the file).
#pragma once

#include <sys/types.h>

#include <string>

namespace autodeliver {
class FileIo;
namespace jet4 {

// Writes `bytes` to `path` with permission bits `mode`. `io` null means the
// real file-system calls.
bool ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode, FileIo* io);

// The bytes of a new card database (see CreateCardDatabase).
std::string CardDatabaseImage();

}  // namespace jet4
}  // namespace autodeliver
