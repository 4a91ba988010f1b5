// The Jet4 file functions: locking, creating (jet4_replace.h), the row
// append (pages read on demand, written back through jet4_journal.h) and the
// insert statement of jet4_file.h.
#include "export/jet4/jet4_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "base/mutex.h"
#include "export/jet4/insert_statement.h"
#include "export/jet4/jet4_format.h"
#include "export/jet4/jet4_image.h"
#include "export/jet4/jet4_journal.h"
#include "export/jet4/jet4_replace.h"
#include "io/file_io.h"

namespace autodeliver {

namespace jet4 {

namespace {

// One change at a time within the process; the folder lock below covers
// other processes.
Mutex& ChangeMutex() {
  static Mutex m;
  return m;
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

void SyncDirectoryOf(const std::string& path) {
  int fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The path of the file that `path` names: `path` itself unless it is a
// symbolic link (one lstat), else the link resolved to the real file, so
// that the folder lock and the undo journal sit beside the file changed.
// nullopt, with errno set, when the path does not name a file.
std::optional<std::string> FilePathBehindLinks(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  if (!S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string real = resolved;
  std::free(resolved);
  return real;
}

// The advisory lock on a file's folder, held while the file is changed. The
// lock sits on the folder, not on the file, because creating a database
// replaces the file: a writer waiting on the old file's lock would wake up
// holding a file that is no longer there.
class FolderLock {
 public:
  explicit FolderLock(const std::string& path) {
    dirFd_ = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) return;
    int rc;
    while ((rc = ::flock(dirFd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
      ::close(dirFd_);
      dirFd_ = -1;
    }
  }
  ~FolderLock() {
    if (dirFd_ >= 0) ::close(dirFd_);  // releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool ok() const { return dirFd_ >= 0; }

 private:
  int dirFd_ = -1;
};

// An existing regular file opened for reading and writing under its folder's
// lock.
class LockedFile {
 public:
  explicit LockedFile(const std::string& path) : lock_(path) {
    if (!lock_.ok()) return;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat st;
    if (fd < 0) return;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return;
    }
    fd_ = fd;
  }
  ~LockedFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  std::optional<off_t> Size() const {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return st.st_size;
  }

 private:
  FolderLock lock_;
  int fd_ = -1;
};

}  // namespace

bool ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode, FileIo* io) {
  FileIo& fs = io ? *io : DefaultFileIo();
  std::string side = path + ".new";
  int fd = ::open(side.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && WriteFully(fs, fd, bytes.data(), bytes.size(), 0);
  ok = ok && fs.Sync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && fs.Rename(side.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(side.c_str());
    return false;
  }
  SyncDirectoryOf(path);
  return true;
}

}  // namespace jet4

bool CreateCardDatabase(const std::string& path) {
  using namespace jet4;
  MutexLock guard(ChangeMutex());
  FolderLock lock(path);
  if (!lock.ok() || !ReplaceFile(path, CardDatabaseImage(), 0644, nullptr)) return false;
  // A journal left beside the replaced file belongs to that file.
  ::unlink(JournalPathFor(path).c_str());
  return true;
}

Status AppendTextRow(const std::string& givenPath, const std::string& table,
                     const std::vector<std::string>& columns, const std::vector<std::string>& gbkValues,
                     FileIo* io) {
  return AppendTextRows(givenPath, table, columns, {gbkValues}, io);
}

Status AppendTextRows(const std::string& givenPath, const std::string& table,
                      const std::vector<std::string>& columns,
                      const std::vector<std::vector<std::string>>& rows, FileIo* io,
                      const BeforeAppend& before) {
  using namespace jet4;
  if (columns.empty()) return Status::NotFound(givenPath, "no columns named for the row");
  for (const std::vector<std::string>& row : rows)
    if (row.size() != columns.size()) return Status::NotFound(givenPath, "no columns named for the row");
  if (rows.empty()) return Status();
  // A symbolic link stays one: the file it names is the one replaced.
  const std::optional<std::string> resolved = FilePathBehindLinks(givenPath);
  if (!resolved) return Status::FromErrno(givenPath, errno);
  const std::string& path = *resolved;
  MutexLock guard(ChangeMutex());
  // The first failed call on the file or its journal is the cause.
  FailureWatch fs;
  fs.Wrap(io);
  fs.SetFallbackPath(path);
  auto failed = [&fs](Status otherwise) {
    Status s = fs.FirstFailure();
    return s.ok() ? otherwise : s;
  };
  errno = 0;
  LockedFile file(path);
  if (!file.ok()) return Status::FromErrno(path, errno);
  fs.Name(file.fd(), path);
  // A change cut short is undone (or a finished one kept) before the file is
  // read; a side file left by the earlier whole-file replacement is stale.
  const std::string journal = JournalPathFor(path);
  if (!SettleJournal(file.fd(), journal, fs)) return failed(Status::IoError(journal, EIO));
  ::unlink((path + ".new").c_str());
  std::optional<off_t> size = file.Size();
  if (!size) return failed(Status::IoError(path, EIO));
  const Status notJet4 = Status::Corrupt(path, "not a card database this writer can append to");
  try {
    Image image(static_cast<std::uint64_t>(*size), [&](std::uint32_t page, char* out) {
      return ReadFully(fs, file.fd(), out, kPageSize,
                       static_cast<off_t>(page) * static_cast<off_t>(kPageSize))
          .ok();
    });
    std::optional<std::u16string> tableName = GbkToUtf16(table);
    if (!tableName) return Status::NotFound(path, "the table name is not GBK text");
    std::optional<std::uint32_t> tablePage = image.FindTable(*tableName);
    if (!tablePage) return failed(Status::NotFound(path, "no such table"));
    TableDef def = image.ReadTableDef(*tablePage);
    // Indexes and auto numbers would have to be kept up with every row.
    if (def.logicalIndexes != 0 || def.physicalIndexes != 0) return notJet4;
    for (const Column& c : def.columns) {
      if (c.flags & (kColumnAutoLong | kColumnAutoGuid)) return notJet4;
    }
    // Every row is checked before any is added: the rows go in together or
    // not at all.
    std::vector<std::string> encoded;
    for (const std::vector<std::string>& gbkValues : rows) {
      std::vector<CellBytes> cells(def.columns.size());
      for (std::size_t i = 0; i < columns.size(); ++i) {
        std::optional<std::u16string> name = GbkToUtf16(columns[i]);
        std::optional<std::u16string> text = GbkToUtf16(gbkValues[i]);
        if (!name || !text) return Status::Corrupt(path, "a value is not GBK text");
        std::size_t at = 0;
        while (at < def.columns.size() && !SameName(def.columns[at].name, *name)) ++at;
        if (at == def.columns.size() || cells[at]) return Status::NotFound(path, "no such column");
        const Column& c = def.columns[at];
        if (c.type != kTypeText) return notJet4;
        if (text->size() * 2 > c.length) return Status::TooLong(path, "a value is longer than its column");
        cells[at] = EncodeText(*text, (c.miscFlags & kColumnCompressed) != 0);
      }
      encoded.push_back(EncodeRow(def, cells));
    }
    if (before) {
      Status ready = before(def.rowCount);
      if (!ready) return ready;
    }
    for (const std::string& row : encoded) image.AppendRow(def, row);
    std::vector<PageChange> changes;
    for (std::uint32_t page : image.ChangedPagesInWriteOrder(def)) {
      changes.push_back({page, page < image.originalPageCount() ? image.OriginalPage(page) : std::string(),
                         image.Page(page)});
    }
    if (!WritePages(file.fd(), *size, journal, changes, fs)) return failed(Status::IoError(path, EIO));
    return Status();
  } catch (const Jet4Damage&) {
    return failed(Status::Corrupt(path, "the database's pages do not read as a Jet4 file"));
  }
}

namespace {

// Runs `use` on the image of the settled file at `givenPath`, under the
// file's locks; nullopt when the file cannot be opened, settled or read.
template <typename Result, typename Use>
std::optional<Result> WithSettledImage(const std::string& givenPath, FileIo* io, Use use) {
  using namespace jet4;
  const std::optional<std::string> resolved = FilePathBehindLinks(givenPath);
  if (!resolved) return std::nullopt;
  const std::string& path = *resolved;
  MutexLock guard(ChangeMutex());
  FileIo& fs = io ? *io : DefaultFileIo();
  LockedFile file(path);
  if (!file.ok() || !SettleJournal(file.fd(), JournalPathFor(path), fs)) return std::nullopt;
  std::optional<off_t> size = file.Size();
  if (!size) return std::nullopt;
  try {
    Image image(static_cast<std::uint64_t>(*size), [&](std::uint32_t page, char* out) {
      return ReadFully(fs, file.fd(), out, kPageSize,
                       static_cast<off_t>(page) * static_cast<off_t>(kPageSize))
          .ok();
    });
    return use(image);
  } catch (const Jet4Damage&) {
    return std::nullopt;
  }
}

std::optional<jet4::TableDef> FindTableDef(const jet4::Image& image, const std::string& table) {
  std::optional<std::u16string> name = jet4::GbkToUtf16(table);
  if (!name) return std::nullopt;
  std::optional<std::uint32_t> page = image.FindTable(*name);
  if (!page) return std::nullopt;
  return image.ReadTableDef(*page);
}

}  // namespace

bool SettleJet4File(const std::string& path, FileIo* io) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
  return WithSettledImage<bool>(path, io, [](const jet4::Image&) { return true; }).value_or(false);
}

std::optional<std::uint32_t> Jet4RowCount(const std::string& path, const std::string& table, FileIo* io) {
  return WithSettledImage<std::uint32_t>(path, io,
                                         [&](const jet4::Image& image) -> std::optional<std::uint32_t> {
                                           std::optional<jet4::TableDef> def = FindTableDef(image, table);
                                           if (!def) return std::nullopt;
                                           return def->rowCount;
                                         });
}

std::optional<bool> HasJet4TextRow(const std::string& path, const std::string& table,
                                   const std::vector<std::string>& columns,
                                   const std::vector<std::string>& gbkValues, std::uint32_t fromRow,
                                   FileIo* io) {
  if (columns.size() != gbkValues.size()) return std::nullopt;
  return WithSettledImage<bool>(path, io, [&](const jet4::Image& image) -> std::optional<bool> {
    using namespace jet4;
    std::optional<TableDef> def = FindTableDef(image, table);
    if (!def) return std::nullopt;
    // Where each named column sits in a row, and the text it must hold.
    std::vector<std::pair<std::size_t, std::u16string>> wanted;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      std::optional<std::u16string> name = GbkToUtf16(columns[i]);
      std::optional<std::u16string> text = GbkToUtf16(gbkValues[i]);
      if (!name || !text) return std::nullopt;
      std::size_t at = 0;
      while (at < def->columns.size() && !SameName(def->columns[at].name, *name)) ++at;
      if (at == def->columns.size() || def->columns[at].type != kTypeText) return std::nullopt;
      wanted.emplace_back(at, std::move(*text));
    }
    const std::vector<std::vector<CellBytes>> rows = image.ReadRows(*def);
    for (std::size_t r = fromRow; r < rows.size(); ++r) {
      bool same = true;
      for (const auto& [at, text] : wanted) {
        const CellBytes& cell = rows[r][at];
        // An empty text may be stored as null.
        same = same && (cell ? DecodeText(*cell) == text : text.empty());
      }
      if (same) return true;
    }
    return false;
  });
}

Status ExecuteJet4Insert(const std::string& connectionText, const std::string& sql, FileIo* io) {
  // The file is the DBQ part: up to ";DefaultDir=" when that follows (a path
  // may hold ";"), else up to the next ";".
  std::string upper = connectionText;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string::size_type start = upper.find("DBQ=");
  if (start == std::string::npos) return Status::NotFound({}, "no DBQ in the connection text");
  start += 4;
  std::string::size_type end = upper.find(";DEFAULTDIR=", start);
  if (end == std::string::npos) end = upper.find(';', start);
  std::string path = connectionText.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::optional<jet4::InsertStatement> statement = jet4::ParseInsertStatement(sql);
  if (path.empty()) return Status::NotFound({}, "no DBQ in the connection text");
  if (!statement) return Status::Corrupt(path, "not an insert statement this writer carries out");
  return AppendTextRow(path, statement->table, statement->columns, statement->values, io);
}

}  // namespace autodeliver
