#include "tables/purge_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "io/coding.h"
#include "tables/table_format.h"

namespace autodeliver {

namespace fmt = table_format;

namespace {

std::int32_t RecordsPerChunk(std::int32_t recordSize) {
  return std::max<std::int32_t>(1, fmt::kScanChunkBytes / recordSize);
}

// Copies a sealed journal's records into the table, writes the record count
// and cuts the file.
bool ApplyJournal(FileIo& io, int journal, const DataArea& area, std::int32_t* count) {
  char header[fmt::kJournalHeaderSize];
  struct stat st {};
  if (!ReadFully(io, journal, header, sizeof header, 0) || ::fstat(journal, &st) != 0) return false;
  if (std::memcmp(header, fmt::kJournalMagic, 4) != 0 ||
      DecodeInt32(header + fmt::kJournalRecordSizeOffset) != area.recordSize)
    return false;
  std::int32_t from = DecodeInt32(header + fmt::kJournalFromOffset);
  std::int32_t kept = DecodeInt32(header + fmt::kJournalKeptOffset);
  if (from < 0 || kept < from ||
      st.st_size != fmt::kJournalHeaderSize + static_cast<std::int64_t>(kept - from) * area.recordSize)
    return false;
  std::int32_t per = RecordsPerChunk(area.recordSize);
  std::vector<char> buf;
  for (std::int32_t done = 0; done < kept - from; done += per) {
    std::int32_t n = std::min(per, kept - from - done);
    buf.resize(static_cast<std::size_t>(n) * area.recordSize);
    off_t at = fmt::kJournalHeaderSize + static_cast<off_t>(done) * area.recordSize;
    if (!ReadFully(io, journal, buf.data(), buf.size(), at) ||
        !WriteFully(io, area.fd, buf.data(), buf.size(), area.RecordOffset(from + done)))
      return false;
  }
  char b[4];
  EncodeInt32(b, kept);
  if (!WriteFully(io, area.fd, b, 4, fmt::kRecordCountOffset)) return false;
  *count = kept;
  // The table is on the disk before the journal that could redo it goes.
  return io.Truncate(area.fd, area.RecordOffset(kept)) == 0 && io.Sync(area.fd) == 0;
}

// Flushes the folder holding `path`, so that a file just made there is
// found after a power cut.
bool SyncFolderOf(FileIo& io, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
  return io.SyncFolder(folder.c_str()) == 0;
}

// Writes the journal's figures, then its magic: a journal cut short before
// the magic is whole was never sealed. The records and figures are on the
// disk before the magic is written, and the sealed journal (with its folder
// entry) before the table is touched.
bool SealJournal(FileIo& io, int journal, const std::string& journalPath, std::int32_t recordSize,
                 std::int32_t from, std::int32_t kept) {
  char figures[fmt::kJournalHeaderSize - 4];
  EncodeInt32(figures, recordSize);
  EncodeInt32(figures + 4, from);
  EncodeInt32(figures + 8, kept);
  return WriteFully(io, journal, figures, sizeof figures, 4) && io.Sync(journal) == 0 &&
         WriteFully(io, journal, fmt::kJournalMagic, 4, 0) && io.Sync(journal) == 0 &&
         SyncFolderOf(io, journalPath);
}

}  // namespace

bool PurgeThroughJournal(FileIo& io, const std::string& journalPath, const DataArea& area, std::int32_t count,
                         const std::vector<std::int32_t>& chainOffsets, std::int32_t* kept,
                         std::vector<std::int32_t>* freed) {
  const std::int32_t size = area.recordSize;
  const std::int32_t per = RecordsPerChunk(size);
  std::vector<char> buf;
  std::vector<std::int32_t> removedChains;
  std::int32_t keptCount = 0;
  std::int32_t from = -1;  // index of the first removed record
  int journal = -1;
  off_t journalEnd = fmt::kJournalHeaderSize;
  bool ok = true;
  // The kept records from the first removed one on go to the journal; the
  // table is not touched yet.
  for (std::int32_t first = 0; first < count && ok; first += per) {
    std::int32_t n = std::min(per, count - first);
    buf.resize(static_cast<std::size_t>(n) * size);
    if (!ReadFully(io, area.fd, buf.data(), buf.size(), area.RecordOffset(first))) {
      ok = false;
      break;
    }
    std::int32_t out = 0;
    for (std::int32_t i = 0; i < n; ++i) {
      char* rec = buf.data() + static_cast<std::size_t>(i) * size;
      if (DecodeInt32(rec) > 0) {
        if (from >= 0) {
          if (out != i) std::memmove(buf.data() + static_cast<std::size_t>(out) * size, rec, size);
          ++out;
        }
        ++keptCount;
        continue;
      }
      if (from < 0) {
        from = first + i;
        journal = io.Open(journalPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (journal < 0) {
          ok = false;
          break;
        }
      }
      for (std::int32_t at : chainOffsets)
        if (std::int32_t b = DecodeInt32(rec + at); b > 0) removedChains.push_back(b);
    }
    if (ok && out > 0) {
      std::size_t bytes = static_cast<std::size_t>(out) * size;
      ok = WriteFully(io, journal, buf.data(), bytes, journalEnd).ok();
      journalEnd += static_cast<off_t>(bytes);
    }
  }
  bool sealed = false;
  if (ok && from >= 0) {
    sealed = SealJournal(io, journal, journalPath, size, from, keptCount);
    std::int32_t applied = count;
    ok = sealed && ApplyJournal(io, journal, area, &applied);
  }
  if (journal >= 0) {
    // A journal applied is emptied before it goes: should its removal fail,
    // an empty journal is not sealed, and the next access does not apply it
    // again over writes made after this purge.
    if (ok && sealed) io.Truncate(journal, 0);
    ::close(journal);
    // A sealed journal that could not be applied stays, so that the next
    // access finishes the rewrite; any other journal has done its work.
    if (ok || !sealed) io.Remove(journalPath.c_str());
  }
  *kept = keptCount;
  *freed = std::move(removedChains);
  return ok;
}

bool RecoverPurgeJournal(FileIo& io, const std::string& journalPath, const DataArea& area,
                         std::int32_t* count, bool* applied) {
  if (applied) *applied = false;
  // Opened for writing, to empty it once applied; a journal that may only
  // be read is applied all the same.
  int journal = io.Open(journalPath.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (journal < 0 && (errno == EACCES || errno == EROFS))
    journal = io.Open(journalPath.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (journal < 0) return errno == ENOENT;
  char magic[4] = {};
  bool sealed = ReadFully(io, journal, magic, 4, 0) && std::memcmp(magic, fmt::kJournalMagic, 4) == 0;
  bool ok = !sealed || ApplyJournal(io, journal, area, count);
  if (applied) *applied = sealed && ok;
  // Emptied first, as after a purge, so that a failed removal does not
  // leave it to be applied again.
  if (sealed && ok) io.Truncate(journal, 0);
  ::close(journal);
  if (ok) io.Remove(journalPath.c_str());
  return ok;
}

}  // namespace autodeliver
