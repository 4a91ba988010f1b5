// The marks of orders not delivered to their buyers; see
// undelivered_orders.h.
#include "store/undelivered_orders.h"

#include <ctime>
#include <optional>
#include <string_view>

#include "io/line_file.h"
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

// The lines of the file into `lines`; an absent file has none. A failure
// when the file exists but cannot be read or is not a file of marks (it is
// then never overwritten).
Status Load(const std::string& path, std::vector<Line>* lines) {
  std::vector<std::string> texts;
  lines->clear();
  if (Status read = ReadLineFile(path, kHeader, &texts); !read) return read;
  lines->reserve(texts.size());
  for (std::string& text : texts) {
    Line line;
    const std::optional<std::vector<std::string>> fields = SplitEscapedLine(text);
    if (fields && fields->size() == 4 && !(*fields)[0].empty()) {
      line.mark = UndeliveredOrder{(*fields)[0], (*fields)[1], (*fields)[2], (*fields)[3]};
    }
    line.raw = std::move(text);
    lines->push_back(std::move(line));
  }
  return Status();
}

// Replaces the file with `lines`, crash-safely (line_file.h).
Status Save(const std::string& path, const std::vector<Line>& lines) {
  std::vector<std::string> texts;
  texts.reserve(lines.size());
  for (const Line& line : lines) {
    if (line.mark) {
      const UndeliveredOrder& m = *line.mark;
      texts.push_back(EscapeField(m.orderNumber) + '\t' + EscapeField(m.buyerNick) + '\t' +
                      EscapeField(m.itemTitle) + '\t' + EscapeField(m.markedAt));
    } else {
      texts.push_back(line.raw);
    }
  }
  return ReplaceLineFile(path, kHeader, texts);
}

}  // namespace

std::string UndeliveredOrdersPath(ShopContext& shop) { return shop.DataDir() + "/undelivered.txt"; }

UndeliveredOrders::UndeliveredOrders(ShopContext& shop)
    : UndeliveredOrders(shop, UndeliveredOrdersPath(shop)) {}

UndeliveredOrders::UndeliveredOrders(ShopContext& shop, std::string path)
    : shop_(shop), path_(std::move(path)) {}

Status UndeliveredOrders::Mark(const std::string& orderNumber, const std::string& buyerNick,
                               const std::string& itemTitle) {
  if (orderNumber.empty()) return Status::Corrupt(path_, "an order without a number");
  StoreGuard guard(shop_);
  std::vector<Line> lines;
  if (Status read = Load(path_, &lines); !read) return read;
  for (const Line& line : lines) {
    if (line.mark && line.mark->orderNumber == orderNumber) return Status();
  }
  Line line;
  line.mark = UndeliveredOrder{orderNumber, buyerNick, itemTitle, NowText()};
  lines.push_back(std::move(line));
  return Save(path_, lines);
}

bool UndeliveredOrders::Clear(const std::string& orderNumber) {
  StoreGuard guard(shop_);
  std::vector<Line> lines;
  if (!Load(path_, &lines)) return false;
  const std::size_t before = lines.size();
  std::erase_if(lines, [&](const Line& l) { return l.mark && l.mark->orderNumber == orderNumber; });
  if (lines.size() == before) return true;
  return Save(path_, lines).ok();
}

std::vector<UndeliveredOrder> UndeliveredOrders::List() const {
  StoreGuard guard(shop_);
  std::vector<UndeliveredOrder> marks;
  std::vector<Line> lines;
  if (!Load(path_, &lines)) return marks;
  for (const Line& line : lines) {
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
