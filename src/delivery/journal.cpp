// The delivery journal; see journal.h.
#include "delivery/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

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

DeliveryJournal::DeliveryJournal(ShopContext& shop) : DeliveryJournal(shop, DeliveryJournalPath(shop)) {}

DeliveryJournal::DeliveryJournal(ShopContext& shop, std::string path) : shop_(shop), path_(std::move(path)) {}

DeliveryJournal::~DeliveryJournal() { CloseFile(); }

void DeliveryJournal::CloseFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  end_ = -1;
}

Status DeliveryJournal::Append(const std::string& lines, bool flush) {
  FileIo& io = shop_.DeliveryFileIo();
  struct stat st {};
  // The descriptor stays open between appends; a file renamed over it (a
  // compaction by another object) is opened anew.
  if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || st.st_nlink == 0)) CloseFile();
  if (fd_ < 0) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      folderUnsynced_ = true;
    } else if (errno == EEXIST) {
      fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
      Status failed = Status::FromErrno(path_, errno);
      CloseFile();
      return failed;
    }
  }
  const off_t end = st.st_size;
  // A last line cut short by a crash (or written by someone else since this
  // object's last append) is ended first, so that it cannot run into these.
  char last = '\n';
  if (end > 0 && end != end_) {
    Status read = ReadFully(io, fd_, &last, 1, end - 1).WithPath(path_);
    if (!read) {
      CloseFile();
      return read;
    }
  }
  const std::string text = last == '\n' ? lines : "\n" + lines;
  Status status = WriteFully(io, fd_, text.data(), text.size(), end).WithPath(path_);
  if (!status) io.Truncate(fd_, end);  // no part of a line stays behind
  if ((flush || !status) && io.DataSync(fd_) != 0 && status) status = Status::FromErrno(path_, errno);
  end_ = status ? end + static_cast<off_t>(text.size()) : -1;
  // A file made here is kept by a power cut only once its folder is flushed.
  if (status && flush && folderUnsynced_) {
    SyncFolderOf(shop_.DeliveryFileIo(), path_);
    folderUnsynced_ = false;
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

#define AUTODELIVER_STEP_LINE(Name, letter, step, flush)                                 \
  Status DeliveryJournal::Name(const std::string& orderNumber) {                         \
    Status status = Append(Sealed(std::string(letter) + " " + Hex(orderNumber)), flush); \
    if (status && (letter[0] == 'R' || letter[0] == 'X')) unsettled_.erase(orderNumber); \
    if (status) DeliveryStepBoundary(step);                                              \
    return status;                                                                       \
  }
AUTODELIVER_STEP_LINE(Recorded, "R", "recorded", false)
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

std::vector<LedgerEntry> DeliveryJournal::Entries() const {
  std::vector<LedgerEntry> entries;
  std::map<std::string, std::size_t> byOrder;
  std::ifstream file(path_, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (file.eof()) break;  // a last line without its end was cut short
    const std::size_t space = line.rfind(' ');
    if (space == std::string::npos) continue;
    const std::string body = line.substr(0, space);
    if (std::to_string(Checksum(body)) != line.substr(space + 1)) continue;
    std::istringstream in(body);
    std::string kind, orderWord, order;
    in >> kind;
    if (kind == "P") {
      LedgerEntry e;
      if (!ParsePlan(in, &e.plan)) continue;
      e.exported.assign(e.plan.cards.size(), false);
      e.exportFrom.assign(e.plan.cards.size(), std::nullopt);
      auto at = byOrder.find(e.plan.orderNumber);
      if (at != byOrder.end()) {
        entries[at->second] = std::move(e);
      } else {
        byOrder[e.plan.orderNumber] = entries.size();
        entries.push_back(std::move(e));
      }
      continue;
    }
    if (!(in >> orderWord) || !Unhex(orderWord, &order)) continue;
    auto at = byOrder.find(order);
    if (at == byOrder.end()) continue;
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
  return entries;
}

std::vector<LedgerEntry> DeliveryJournal::Unfinished() const {
  std::vector<LedgerEntry> open;
  for (LedgerEntry& e : Entries())
    if (!e.Finished()) open.push_back(std::move(e));
  return open;
}

Status DeliveryJournal::Compact() {
  const std::vector<LedgerEntry> open = Unfinished();
  if (open.empty() && ::access(path_.c_str(), F_OK) != 0) return Status();
  std::string content;
  for (const LedgerEntry& e : open) {
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
  CloseFile();  // the next append opens the new file
  FileIo& io = shop_.DeliveryFileIo();
  const std::string temp = path_ + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Status::FromErrno(temp, errno);
  Status status;
  if (!content.empty()) status = WriteFully(io, fd, content.data(), content.size(), 0).WithPath(temp);
  if (io.Sync(fd) != 0 && status) status = Status::FromErrno(temp, errno);
  ::close(fd);
  if (status && io.Rename(temp.c_str(), path_.c_str()) != 0) status = Status::FromErrno(path_, errno);
  if (!status) {
    ::unlink(temp.c_str());
    return status;
  }
  SyncFolderOf(shop_.DeliveryFileIo(), path_);
  return status;
}

}  // namespace autodeliver
