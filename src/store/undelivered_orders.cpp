// The marks of orders not delivered to their buyers; see
// undelivered_orders.h.
#include "store/undelivered_orders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <optional>
#include <string_view>

#include "io/file_io.h"
#include "store/escaped_fields.h"
#include "store/shop_paths.h"
#include "store/store_lock.h"

namespace autodeliver {
namespace {

constexpr std::string_view kHeader = "autodeliver undelivered orders 1";

// One line of the file: a mark, or a line that could not be taken apart,
// kept as it was so that a rewrite loses nothing.
struct Line {
  std::optional<UndeliveredOrder> mark;
  std::string raw;
};

std::string NowText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return buf;
}

// The lines of the file; an absent file has none. nullopt when the file
// exists but cannot be read or is not a file of marks (it is then never
// overwritten).
std::optional<std::vector<Line>> Load(const std::string& path) {
  std::vector<Line> lines;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return lines;
    return std::nullopt;
  }
  std::string content;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (content.empty()) return lines;  // created but never written: no marks
  std::string_view rest = content;
  bool first = true;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view text = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (first) {
      if (text != kHeader) return std::nullopt;
      first = false;
      continue;
    }
    if (text.empty()) continue;
    Line line;
    line.raw = std::string(text);
    const std::optional<std::vector<std::string>> fields = SplitEscapedLine(text);
    if (fields && fields->size() == 4 && !(*fields)[0].empty()) {
      line.mark = UndeliveredOrder{(*fields)[0], (*fields)[1], (*fields)[2], (*fields)[3]};
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// Replaces the file with `lines`: temp file, sync, rename, sync the folder.
bool Save(const std::string& path, const std::vector<Line>& lines) {
  std::string content(kHeader);
  content += '\n';
  for (const Line& line : lines) {
    if (line.mark) {
      const UndeliveredOrder& m = *line.mark;
      content += EscapeField(m.orderNumber) + '\t' + EscapeField(m.buyerNick) + '\t' +
                 EscapeField(m.itemTitle) + '\t' + EscapeField(m.markedAt);
    } else {
      content += line.raw;
    }
    content += '\n';
  }
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = WriteFully(DefaultFileIo(), fd, content.data(), content.size(), 0) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself is durable once the folder is synced.
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace

std::string UndeliveredOrdersPath(ShopContext& shop) { return shop.DataDir() + "/undelivered.txt"; }

UndeliveredOrders::UndeliveredOrders(ShopContext& shop)
    : UndeliveredOrders(shop, UndeliveredOrdersPath(shop)) {}

UndeliveredOrders::UndeliveredOrders(ShopContext& shop, std::string path)
    : shop_(shop), path_(std::move(path)) {}

bool UndeliveredOrders::Mark(const std::string& orderNumber, const std::string& buyerNick,
                             const std::string& itemTitle) {
  if (orderNumber.empty()) return false;
  StoreGuard guard(shop_);
  std::optional<std::vector<Line>> lines = Load(path_);
  if (!lines) return false;
  for (const Line& line : *lines) {
    if (line.mark && line.mark->orderNumber == orderNumber) return true;
  }
  Line line;
  line.mark = UndeliveredOrder{orderNumber, buyerNick, itemTitle, NowText()};
  lines->push_back(std::move(line));
  return Save(path_, *lines);
}

bool UndeliveredOrders::Clear(const std::string& orderNumber) {
  StoreGuard guard(shop_);
  std::optional<std::vector<Line>> lines = Load(path_);
  if (!lines) return false;
  const std::size_t before = lines->size();
  std::erase_if(*lines, [&](const Line& l) { return l.mark && l.mark->orderNumber == orderNumber; });
  if (lines->size() == before) return true;
  return Save(path_, *lines);
}

std::vector<UndeliveredOrder> UndeliveredOrders::List() const {
  StoreGuard guard(shop_);
  std::vector<UndeliveredOrder> marks;
  const std::optional<std::vector<Line>> lines = Load(path_);
  if (!lines) return marks;
  for (const Line& line : *lines) {
    if (line.mark) marks.push_back(*line.mark);
  }
  return marks;
}

bool UndeliveredOrders::IsMarked(const std::string& orderNumber) const {
  for (const UndeliveredOrder& m : List()) {
    if (m.orderNumber == orderNumber) return true;
  }
  return false;
}

}  // namespace autodeliver
