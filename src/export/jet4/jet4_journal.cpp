// The undo journal of the Jet4 writer; see jet4_journal.h.
//
// Journal layout (little-endian):
//   0 "AdJ4Undo" | 8 u32 version (1) | 12 u32 page count n
//   16 u64 file size before | 24 u64 file size after
//   32 u64 device | 40 u64 inode of the file
//   48 n entries: u32 page | u32 1 when an old image follows, else 0
//                 | u64 hash of the new image | [kPageSize old image]
//   then u64 hash of all the bytes before it | "JrnlDone"
// Bytes after that are left over from a longer record and ignored. A
// cleared journal has zeros for its first 8 bytes (or is empty).
#include "export/jet4/jet4_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "export/jet4/jet4_format.h"
#include "io/coding.h"
#include "io/file_io.h"

namespace autodeliver::jet4 {

namespace {

constexpr char kMagic[] = "AdJ4Undo";
constexpr char kDone[] = "JrnlDone";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 48;
constexpr std::size_t kEntryHead = 16;
constexpr std::size_t kTrailerSize = 16;
// A change touches a handful of pages; anything far larger is not a journal
// this writer made.
constexpr std::uint32_t kMaxPages = 4096;

// 64-bit FNV-1a.
std::uint64_t Hash(const char* p, std::size_t n) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= static_cast<unsigned char>(p[i]);
    h *= 0x100000001b3ull;
  }
  return h;
}

void Append32(std::string& out, std::uint32_t v) {
  char b[4];
  EncodeFixed32(b, v);
  out.append(b, 4);
}
void Append64(std::string& out, std::uint64_t v) {
  char b[8];
  EncodeFixed64(b, v);
  out.append(b, 8);
}

// Clears the journal: its first bytes no longer name it one.
bool Clear(FileIo& io, int journalFd) {
  static const char kZero[8] = {};
  return WriteFully(io, journalFd, kZero, sizeof kZero, 0).ok();
}

off_t PageOffset(std::uint32_t page) { return static_cast<off_t>(page) * static_cast<off_t>(kPageSize); }

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct Entry {
  std::uint32_t page = 0;
  bool hasOld = false;
  std::uint64_t newHash = 0;
  const char* old = nullptr;
};

struct Parsed {
  std::uint64_t sizeBefore = 0, sizeAfter = 0, device = 0, inode = 0;
  std::vector<Entry> entries;
};

// The journal's record, or false when it is torn or not one of ours.
bool Parse(const std::string& j, Parsed& out) {
  if (j.size() < kHeaderSize + kTrailerSize || std::memcmp(j.data(), kMagic, 8) != 0) return false;
  if (DecodeFixed32(j.data() + 8) != kVersion) return false;
  std::uint32_t count = DecodeFixed32(j.data() + 12);
  if (count > kMaxPages) return false;
  out.sizeBefore = DecodeFixed64(j.data() + 16);
  out.sizeAfter = DecodeFixed64(j.data() + 24);
  out.device = DecodeFixed64(j.data() + 32);
  out.inode = DecodeFixed64(j.data() + 40);
  std::size_t at = kHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (j.size() - at < kEntryHead) return false;
    Entry e;
    e.page = DecodeFixed32(j.data() + at);
    std::uint32_t flags = DecodeFixed32(j.data() + at + 4);
    if (flags > 1) return false;
    e.hasOld = flags == 1;
    e.newHash = DecodeFixed64(j.data() + at + 8);
    at += kEntryHead;
    if (e.hasOld) {
      if (j.size() - at < kPageSize) return false;
      e.old = j.data() + at;
      at += kPageSize;
    }
    out.entries.push_back(e);
  }
  // Bytes after the closing mark are left over from a longer, older journal.
  if (j.size() - at < kTrailerSize) return false;
  if (DecodeFixed64(j.data() + at) != Hash(j.data(), at)) return false;
  return std::memcmp(j.data() + at + 8, kDone, 8) == 0;
}

std::optional<std::string> ReadWhole(FileIo& io, int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  if (!bytes.empty() && !ReadFully(io, fd, bytes.data(), bytes.size(), 0)) return std::nullopt;
  return bytes;
}

// True when every page of the record holds its new image and the file has
// its new size: the change finished.
bool Finished(const Parsed& p, int fileFd, FileIo& io) {
  struct stat st;
  if (::fstat(fileFd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) != p.sizeAfter) return false;
  std::string page(kPageSize, '\0');
  for (const Entry& e : p.entries) {
    if (!ReadFully(io, fileFd, page.data(), kPageSize, PageOffset(e.page))) return false;
    if (Hash(page.data(), kPageSize) != e.newHash) return false;
  }
  return true;
}

// Writes the old images back and cuts the file to its old size, flushed.
bool Undo(int fileFd, off_t sizeBefore, const std::vector<Entry>& entries, FileIo& io) {
  bool ok = true;
  for (const Entry& e : entries) {
    if (e.hasOld) ok = WriteFully(io, fileFd, e.old, kPageSize, PageOffset(e.page)) && ok;
  }
  ok = ok && io.Truncate(fileFd, sizeBefore) == 0;
  return ok && io.DataSync(fileFd) == 0;
}

}  // namespace

std::string JournalPathFor(const std::string& filePath) { return filePath + ".journal"; }

bool SettleJournal(int fileFd, const std::string& journalPath, FileIo& io) {
  Fd journal(::open(journalPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (journal.get() < 0) return errno == ENOENT;
  // A cleared journal (the usual case) is told by its first bytes alone.
  char head[8];
  const ssize_t got = io.ReadAt(journal.get(), head, sizeof head, 0);
  if (got < 0) return false;
  if (std::all_of(head, head + got, [](char c) { return c == 0; })) return true;  // cleared or empty
  std::optional<std::string> bytes = ReadWhole(io, journal.get());
  if (!bytes) return false;
  Parsed record;
  struct stat st;
  if (::fstat(fileFd, &st) != 0) return false;
  bool ours = Parse(*bytes, record) && record.device == static_cast<std::uint64_t>(st.st_dev) &&
              record.inode == static_cast<std::uint64_t>(st.st_ino);
  if (ours && !Finished(record, fileFd, io)) {
    if (!Undo(fileFd, static_cast<off_t>(record.sizeBefore), record.entries, io)) return false;
  }
  // Clearing the journal needs no flush: it either was torn, or its change
  // is now whole in the file (finished or undone).
  return Clear(io, journal.get());
}

bool WritePages(int fileFd, off_t sizeBefore, const std::string& journalPath,
                const std::vector<PageChange>& changes, FileIo& io) {
  struct stat st;
  if (::fstat(fileFd, &st) != 0) return false;
  off_t sizeAfter = sizeBefore;
  std::string record(kMagic, 8);
  Append32(record, kVersion);
  Append32(record, static_cast<std::uint32_t>(changes.size()));
  for (const PageChange& c : changes) {
    if (c.after.size() != kPageSize || !(c.before.empty() || c.before.size() == kPageSize)) return false;
    sizeAfter = std::max(sizeAfter, PageOffset(c.page) + static_cast<off_t>(kPageSize));
  }
  Append64(record, static_cast<std::uint64_t>(sizeBefore));
  Append64(record, static_cast<std::uint64_t>(sizeAfter));
  Append64(record, static_cast<std::uint64_t>(st.st_dev));
  Append64(record, static_cast<std::uint64_t>(st.st_ino));
  std::vector<Entry> undo;
  for (const PageChange& c : changes) {
    Append32(record, c.page);
    Append32(record, c.before.empty() ? 0 : 1);
    Append64(record, Hash(c.after.data(), kPageSize));
    if (!c.before.empty()) {
      record += c.before;
      undo.push_back({c.page, true, 0, c.before.data()});
    }
  }
  Append64(record, Hash(record.data(), record.size()));
  record.append(kDone, 8);

  // The journal kept from an earlier change is used again; only a new one
  // needs its folder flushed.
  bool created = false;
  int fd = ::open(journalPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    created = true;
    fd = ::open(journalPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  }
  Fd journal(fd);
  struct stat js;
  if (journal.get() < 0 || ::fstat(journal.get(), &js) != 0 || !S_ISREG(js.st_mode)) return false;
  if (!WriteFully(io, journal.get(), record.data(), record.size(), 0) || io.DataSync(journal.get()) != 0) {
    // The file is untouched; a torn record would be dropped anyway.
    Clear(io, journal.get());
    return false;
  }
  if (created) {
    Fd dir(::open(DirectoryOf(journalPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || io.Sync(dir.get()) != 0) {
      Clear(io, journal.get());
      return false;
    }
  }

  bool ok = true;
  for (const PageChange& c : changes) {
    ok = WriteFully(io, fileFd, c.after.data(), kPageSize, PageOffset(c.page)).ok();
    if (!ok) break;
  }
  ok = ok && io.DataSync(fileFd) == 0;
  if (!ok) {
    // Take the change back now; when that fails too the journal stays and
    // the next writer undoes it.
    if (Undo(fileFd, sizeBefore, undo, io)) Clear(io, journal.get());
    return false;
  }
  Clear(io, journal.get());
  return true;
}

}  // namespace autodeliver::jet4
