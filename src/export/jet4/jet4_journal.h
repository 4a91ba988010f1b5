// The undo journal that lets the Jet4 writer change a few pages of a file in
// place and still leave, after a crash or a failed write at any moment, a
// file holding either the old rows or the old rows plus the new one.
//
// A change is a list of pages to write, in an order in which every prefix
// already is a file that other readers (which know nothing of the journal)
// read with all earlier rows: pages added at the end first, then the data
// page that takes the row, then the usage maps, then the table definition
// with its row count. WritePages
//
//   1. writes "<file>.journal": the old image of every existing page to be
//      overwritten, a hash of every page's new image, the file's size before
//      and after, and the file's identity (device, inode); then a checksum
//      over all of it and a closing mark; and flushes the journal;
//   2. writes the pages in place and flushes the file;
//   3. clears the journal by zeroing its first bytes (without flushing: see
//      below).
//
// Flushing is fdatasync: the journal is rewritten in place and the file
// overwritten in place (grown by a page now and then), so the flush need not
// wait for times of last change to reach the disk, and costs about one
// write of a page with fsync.
//
// When a write or a flush of step 2 fails, the old images are written back,
// the file is cut to its old size and flushed, and the journal is cleared:
// the call fails and the file is byte for byte as before. When that does not
// work either, the journal stays and the next writer settles it (until then
// the file holds a prefix of the writes, or a torn page).
//
// SettleJournal runs under the folder lock before anything reads the file.
// A journal that is cleared, torn (no closing mark, bad checksum: the crash
// came before step 2 began) or made for another file (it was replaced since)
// is cleared. A journal whose pages all already hold their new images, at
// the new size, describes a change that finished: it is cleared too. This
// is why step 3 needs no flush: if a cleared journal comes back after a
// power cut, the change it describes is whole in the file and stays. Any
// other journal describes a change cut short: its old images are written
// back, the file is cut to its old size and flushed, and the journal is
// cleared. Undoing is idempotent, so a crash while settling is settled
// again next time.
//
// Why an undo journal and not a redo one: a failed call must leave the file
// unchanged, and the caller of a failed export reports the card as not
// exported. With the old images at hand the writer can take a half-done
// change back at once, instead of leaving a change the caller was told had
// failed to be finished by the next writer.
//
// The journal is created with permission 0600 and kept, cleared, between
// changes, so that its directory entry and its blocks are made durable once
// (the folder is flushed when it is created) and then only overwritten.
//
// Thread safety: callers hold the file's folder lock (jet4_file.cpp) and do
// not share a journal between threads.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace autodeliver {
class FileIo;
namespace jet4 {

// One page to write: its number, its image before the change (empty for a
// page added at the end of the file) and after (kPageSize bytes each).
struct PageChange {
  std::uint32_t page = 0;
  std::string before;
  std::string after;
};

// "<filePath>.journal".
std::string JournalPathFor(const std::string& filePath);

// Brings the file open as `fileFd` to a whole state as described above.
// Returns false when a journal is there but could not be read or carried
// out; the file must then not be changed.
bool SettleJournal(int fileFd, const std::string& journalPath, FileIo& io);

// Writes `changes` (in this order) to the file open as `fileFd`, of
// `sizeBefore` bytes, as described above. Returns false, with the file as it
// was (or, when even the undo failed, a journal that restores it), when any
// write or flush fails.
bool WritePages(int fileFd, off_t sizeBefore, const std::string& journalPath,
                const std::vector<PageChange>& changes, FileIo& io);

}  // namespace jet4
}  // namespace autodeliver
