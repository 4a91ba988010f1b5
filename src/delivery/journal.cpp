// The delivery journal; see journal.h.
#include "delivery/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <sstream>

#include "base/mutex.h"
#include "io/file_io.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"

namespace autodeliver {
namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2 + 1);
  out += 'x';  // an empty field still makes a word
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool Unhex(const std::string& word, std::string* out) {
  if (word.empty() || word[0] != 'x' || word.size() % 2 != 1) return false;
  out->clear();
  auto digit = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  for (std::size_t i = 1; i < word.size(); i += 2) {
    const int hi = digit(word[i]), lo = digit(word[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

std::uint32_t Checksum(const std::string& text) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

std::string Sealed(const std::string& body) { return body + " " + std::to_string(Checksum(body)) + "\n"; }

std::string PlanLine(const DeliveryPlan& p) {
  std::string body = "P " + Hex(p.orderNumber) + " " + Hex(p.itemName) + " " + Hex(p.buyerNick) + " " +
                     Hex(p.remark) + " " + std::to_string(p.quantity) + " " + Hex(p.sentAt) + " " +
                     std::to_string(p.cards.size());
  for (const PlannedCard& c : p.cards) {
    body += " " + std::to_string(c.stockRecord) + " " + Hex(c.stockNumber) + " " + Hex(c.cardPassword) + " " +
            Hex(c.sentNumber);
  }
  return body;
}

bool ParsePlan(std::istringstream& in, DeliveryPlan* p) {
  std::string w[5];
  std::size_t count = 0;
  if (!(in >> w[0] >> w[1] >> w[2] >> w[3] >> p->quantity >> w[4] >> count)) return false;
  if (!Unhex(w[0], &p->orderNumber) || !Unhex(w[1], &p->itemName) || !Unhex(w[2], &p->buyerNick) ||
      !Unhex(w[3], &p->remark) || !Unhex(w[4], &p->sentAt) || count > 100000)
    return false;
  for (std::size_t i = 0; i < count; ++i) {
    PlannedCard c;
    std::string a, b, d;
    if (!(in >> c.stockRecord >> a >> b >> d)) return false;
    if (!Unhex(a, &c.stockNumber) || !Unhex(b, &c.cardPassword) || !Unhex(d, &c.sentNumber)) return false;
    p->cards.push_back(std::move(c));
  }
  return true;
}

void SyncFolderOf(FileIo& io, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  io.Sync(fd);
  ::close(fd);
}

}  // namespace

std::string DeliveryJournalPath(const ShopContext& shop) { return shop.DataDir() + "/delivery.journal"; }

bool LedgerEntry::AllExported() const {
  for (bool e : exported)
    if (!e) return false;
  return true;
}

// What the process knows of one journal file, shared by every
// DeliveryJournal of its path: the descriptor kept open, the file's end
// after the last append, and the entries its lines tell, kept up to date
// with every line appended, so that during normal running the file is
// written and never read. Checked against the file (a stat: the same file,
// the same size) before it is read from and before an object's first
// append; anything else (a crash, another process, a test) makes it read
// the file again.
struct DeliveryJournal::Shared {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  off_t end = 0;                // the file's size as this process left it
  bool endsLine = true;         // the last line is whole (or the file empty)
  bool folderUnsynced = false;  // the file was made here, its folder not yet flushed
  bool valid = false;           // what follows mirrors the file
  std::vector<LedgerEntry> entries;
  std::map<std::string, std::size_t> byOrder;
  // Orders recorded by this process since the file was last read: their
  // rows are in the tables (not yet flushed), so a replay has nothing to add.
  std::set<std::string> recordedHere;

  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    valid = false;
  }
  void Forget() {
    entries.clear();
    byOrder.clear();
    recordedHere.clear();
  }
  // Takes in the whole lines of `text`; a last line without its end was cut
  // short and is passed over.
  void Take(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t nl = text.find('\n', at);
      if (nl == std::string::npos) break;
      TakeLine(text.substr(at, nl - at));
      at = nl + 1;
    }
  }
  void TakeLine(const std::string& line) {
    const std::size_t space = line.rfind(' ');
    if (space == std::string::npos) return;
    const std::string body = line.substr(0, space);
    if (std::to_string(Checksum(body)) != line.substr(space + 1)) return;
    std::istringstream in(body);
    std::string kind, orderWord, order;
    in >> kind;
    if (kind == "P") {
      LedgerEntry e;
      if (!ParsePlan(in, &e.plan)) return;
      e.exported.assign(e.plan.cards.size(), false);
      e.exportFrom.assign(e.plan.cards.size(), std::nullopt);
      recordedHere.erase(e.plan.orderNumber);
      auto at = byOrder.find(e.plan.orderNumber);
      if (at != byOrder.end()) {
        entries[at->second] = std::move(e);
      } else {
        byOrder[e.plan.orderNumber] = entries.size();
        entries.push_back(std::move(e));
      }
      return;
    }
    if (!(in >> orderWord) || !Unhex(orderWord, &order)) return;
    auto at = byOrder.find(order);
    if (at == byOrder.end()) return;
    LedgerEntry& e = entries[at->second];
    if (kind == "R") e.recorded = true;
    if (kind == "H") e.handed = true;
    if (kind == "C") e.consigned = true;
    if (kind == "X") e.closed = true;
    std::size_t index = 0;
    if (kind == "E" && (in >> index) && index < e.exported.size()) e.exported[index] = true;
    std::uint32_t from = 0;
    if (kind == "A" && (in >> index >> from) && index < e.exportFrom.size()) e.exportFrom[index] = from;
  }
  // Reads the file anew (or finds it missing). False when it is there but
  // cannot be read.
  bool Load(const std::string& path) {
    Close();
    Forget();
    end = 0;
    endsLine = true;
    const int opened = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (opened < 0) {
      valid = errno == ENOENT;
      return valid;
    }
    fd = opened;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      Close();
      return false;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got < text.size()) {
      Close();
      return false;
    }
    device = st.st_dev;
    inode = st.st_ino;
    end = st.st_size;
    endsLine = text.empty() || text.back() == '\n';
    Take(text);
    valid = true;
    return true;
  }
  // True when what is known still is the file at `path`: the same file, of
  // the size this process left it (or still no file).
  bool Current(const std::string& path) const {
    if (!valid) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fd < 0 && errno == ENOENT;
    return fd >= 0 && st.st_dev == device && st.st_ino == inode && st.st_size == end;
  }
};

Mutex& DeliveryJournal::JournalsLock() {
  static Mutex m;
  return m;
}

DeliveryJournal::DeliveryJournal(ShopContext& shop) : DeliveryJournal(shop, DeliveryJournalPath(shop)) {}

DeliveryJournal::DeliveryJournal(ShopContext& shop, std::string path) : shop_(shop), path_(std::move(path)) {
  // Never destroyed: the delivery thread may still use a journal while the
  // process exits.
  static auto* journals = new std::map<std::string, Shared*>;
  MutexLock lock(JournalsLock());
  Shared*& shared = (*journals)[path_];
  if (!shared) shared = new Shared;
  shared_ = shared;
}

DeliveryJournal::~DeliveryJournal() = default;

void DeliveryJournal::Check(bool always) {
  if ((always || !checked_) && !shared_->Current(path_)) shared_->Load(path_);
  checked_ = true;
}

Status DeliveryJournal::Append(const std::string& lines, bool flush) {
  MutexLock lock(JournalsLock());
  FileIo& io = shop_.DeliveryFileIo();
  Shared& f = *shared_;
  Check(false);
  if (!f.valid && !f.Load(path_)) return Status::FromErrno(path_, errno ? errno : EIO);
  if (f.fd < 0) {
    f.fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    struct stat st {};
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0) {
      Status failed = Status::FromErrno(path_, errno);
      f.Close();
      return failed;
    }
    f.folderUnsynced = true;
    f.device = st.st_dev;
    f.inode = st.st_ino;
    f.end = 0;
    f.endsLine = true;
  }
  const off_t end = f.end;
  // A last line cut short by a crash is ended first, so that it cannot run
  // into these.
  const std::string text = f.endsLine ? lines : "\n" + lines;
  Status status = WriteFully(io, f.fd, text.data(), text.size(), end).WithPath(path_);
  if (!status) io.Truncate(f.fd, end);  // no part of a line stays behind
  if ((flush || !status) && io.DataSync(f.fd) != 0 && status) status = Status::FromErrno(path_, errno);
  if (!status) {
    // What the file holds now is read again by the next use.
    f.Close();
    return status;
  }
  f.end = end + static_cast<off_t>(text.size());
  f.endsLine = true;
  f.Take(lines);
  // A file made here is kept by a power cut only once its folder is flushed.
  if (flush && f.folderUnsynced) {
    SyncFolderOf(shop_.DeliveryFileIo(), path_);
    f.folderUnsynced = false;
  }
  return status;
}

Status DeliveryJournal::Planned(const DeliveryPlan& plan) {
  // The one flush of an order's delivery: everything else is replayed from it.
  // Marked unsettled before the write: a failed write may still have left it.
  unsettled_.insert(plan.orderNumber);
  Status status = Append(Sealed(PlanLine(plan)), /*flush=*/true);
  if (status) DeliveryStepBoundary("planned");
  return status;
}

Status DeliveryJournal::Recorded(const std::string& orderNumber) {
  Status status = Append(Sealed("R " + Hex(orderNumber)), /*flush=*/false);
  if (status) {
    // The rows were written by this process just before: nothing to replay.
    MutexLock lock(JournalsLock());
    shared_->recordedHere.insert(orderNumber);
    unsettled_.erase(orderNumber);
    DeliveryStepBoundary("recorded");
  }
  return status;
}

#define AUTODELIVER_STEP_LINE(Name, letter, step, flush)                                 \
  Status DeliveryJournal::Name(const std::string& orderNumber) {                         \
    Status status = Append(Sealed(std::string(letter) + " " + Hex(orderNumber)), flush); \
    if (status && letter[0] == 'X') unsettled_.erase(orderNumber);                       \
    if (status) DeliveryStepBoundary(step);                                              \
    return status;                                                                       \
  }
AUTODELIVER_STEP_LINE(Handed, "H", "handed", false)
AUTODELIVER_STEP_LINE(Consigned, "C", "consigned", false)
// A closed order is gone from the replay for good (marked for the seller, or
// nothing taken): kept through a power cut.
AUTODELIVER_STEP_LINE(Closed, "X", "closed", true)
#undef AUTODELIVER_STEP_LINE

Status DeliveryJournal::Exported(const std::string& orderNumber, std::size_t cardIndex) {
  return Exported(std::vector<PlannedCardRef>{{orderNumber, cardIndex}});
}

Status DeliveryJournal::Exporting(const std::string& orderNumber, std::size_t cardIndex,
                                  std::uint32_t fromRow) {
  return Exporting(std::vector<PlannedCardRef>{{orderNumber, cardIndex}}, fromRow);
}

Status DeliveryJournal::Exported(const std::vector<PlannedCardRef>& cards) {
  std::string lines;
  for (const PlannedCardRef& c : cards)
    lines += Sealed("E " + Hex(c.orderNumber) + " " + std::to_string(c.cardIndex));
  // Without the line the replay finds the row from the exporting line's count.
  Status status = lines.empty() ? Status() : Append(lines, /*flush=*/false);
  if (status) DeliveryStepBoundary("exported");
  return status;
}

Status DeliveryJournal::Exporting(const std::vector<PlannedCardRef>& cards, std::uint32_t fromRow) {
  std::string lines;
  for (const PlannedCardRef& c : cards)
    lines +=
        Sealed("A " + Hex(c.orderNumber) + " " + std::to_string(c.cardIndex) + " " + std::to_string(fromRow));
  Status status = lines.empty() ? Status() : Append(lines, /*flush=*/true);
  if (status) DeliveryStepBoundary("exporting");
  return status;
}

std::vector<LedgerEntry> DeliveryJournal::Entries() {
  MutexLock lock(JournalsLock());
  Check(true);
  return shared_->valid ? shared_->entries : std::vector<LedgerEntry>();
}

std::vector<LedgerEntry> DeliveryJournal::Unfinished() {
  MutexLock lock(JournalsLock());
  Check(true);
  std::vector<LedgerEntry> open;
  if (!shared_->valid) return open;
  for (const LedgerEntry& e : shared_->entries)
    if (!e.Finished()) open.push_back(e);
  return open;
}

DeliveryJournal::Counts DeliveryJournal::OrderCounts() {
  MutexLock lock(JournalsLock());
  Check(true);
  Counts counts;
  for (const LedgerEntry& e : shared_->entries) {
    if (e.Finished()) ++counts.finished;
    if (e.recorded && !e.AllExported()) ++counts.unapplied;
  }
  return counts;
}

bool DeliveryJournal::RecordedHere(const std::string& orderNumber) {
  MutexLock lock(JournalsLock());
  Check(false);
  return shared_->recordedHere.count(orderNumber) > 0;
}

Status DeliveryJournal::Compact() {
  MutexLock lock(JournalsLock());
  Shared& f = *shared_;
  Check(true);
  if (!f.valid) return Status::FromErrno(path_, EIO);
  std::vector<const LedgerEntry*> open;
  for (const LedgerEntry& e : f.entries)
    if (!e.Finished()) open.push_back(&e);
  if (f.fd < 0 || f.entries.size() == open.size()) return Status();
  FileIo& io = shop_.DeliveryFileIo();
  if (open.empty()) {
    // Every order is finished: the file is cut to nothing, without a flush.
    // A power cut may bring the cut lines back, and a replay of finished
    // orders does nothing; the next plan's flush makes the cut durable.
    if (io.Truncate(f.fd, 0) != 0) {
      Status failed = Status::FromErrno(path_, errno);
      f.Close();
      return failed;
    }
    f.end = 0;
    f.endsLine = true;
    f.Forget();
    DeliveryStepBoundary("journal-cut");
    return Status();
  }
  // Orders still open keep the file; finished ones are left in it until they
  // are a bound's worth, then the file is rewritten with the open ones.
  if (f.entries.size() - open.size() < kCompactAt) return Status();
  std::string content;
  for (const LedgerEntry* entry : open) {
    const LedgerEntry& e = *entry;
    content += Sealed(PlanLine(e.plan));
    const std::string order = Hex(e.plan.orderNumber);
    if (e.recorded) content += Sealed("R " + order);
    for (std::size_t i = 0; i < e.exported.size(); ++i) {
      if (e.exportFrom[i])
        content += Sealed("A " + order + " " + std::to_string(i) + " " + std::to_string(*e.exportFrom[i]));
      if (e.exported[i]) content += Sealed("E " + order + " " + std::to_string(i));
    }
    if (e.handed) content += Sealed("H " + order);
    if (e.consigned) content += Sealed("C " + order);
  }
  const std::set<std::string> recordedHere = f.recordedHere;
  f.Close();  // the next use opens the new file
  const std::string temp = path_ + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Status::FromErrno(temp, errno);
  Status status = WriteFully(io, fd, content.data(), content.size(), 0).WithPath(temp);
  if (io.Sync(fd) != 0 && status) status = Status::FromErrno(temp, errno);
  ::close(fd);
  if (status && io.Rename(temp.c_str(), path_.c_str()) != 0) status = Status::FromErrno(path_, errno);
  if (!status) {
    ::unlink(temp.c_str());
    return status;
  }
  SyncFolderOf(shop_.DeliveryFileIo(), path_);
  // The rows recorded here are still the process's own.
  if (f.Load(path_)) {
    for (const std::string& order : recordedHere)
      if (f.byOrder.count(order)) f.recordedHere.insert(order);
  }
  return status;
}

}  // namespace autodeliver
