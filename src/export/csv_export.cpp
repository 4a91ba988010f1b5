// CSV files of the seller's cards; see csv_export.h.
#include "export/csv_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "io/file_io.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Appends one record of GBK fields in the file's encoding.
template <typename Fields>
void AppendRecord(std::string& out, const Fields& fields, CsvEncoding encoding) {
  bool first = true;
  for (const std::string& field : fields) {
    if (!first) out += ',';
    first = false;
    out += CsvField(SpreadsheetText(encoding == CsvEncoding::kGbk ? field : GbkToUtf8Lossy(field)));
  }
  out += "\r\n";
}

std::string Start(CsvEncoding encoding) {
  return encoding == CsvEncoding::kUtf8WithBom ? std::string(kByteOrderMark) : std::string();
}

}  // namespace

std::string SpreadsheetText(std::string_view text) {
  // The first byte of a GBK or UTF-8 text is never a trail byte, so the
  // test holds in both encodings.
  if (text.empty() || std::string_view("=+-@\t\r'").find(text.front()) == std::string_view::npos)
    return std::string(text);
  return "'" + std::string(text);
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string SentCardsCsv(const std::vector<SentCard>& cards, const std::vector<int>* rows,
                         CsvEncoding encoding) {
  static const std::array<std::string, 8> kHeader = {"宝贝名称"_gbk, "订单编号"_gbk, "买家旺旺"_gbk,
                                                     "购买数量"_gbk, "已发卡号"_gbk, "已发卡密"_gbk,
                                                     "已发备注"_gbk, "发货时间"_gbk};
  std::string out = Start(encoding);
  AppendRecord(out, kHeader, encoding);
  auto append = [&](const SentCard& c) {
    const std::array<std::string, 8> fields = {
        c.itemName,   c.orderNumber,  c.buyerNick, std::to_string(c.quantity),
        c.cardNumber, c.cardPassword, c.remark,    c.sentAt};
    AppendRecord(out, fields, encoding);
  };
  if (rows == nullptr) {
    for (const SentCard& c : cards) append(c);
  } else {
    for (int r : *rows) {
      if (r >= 0 && static_cast<std::size_t>(r) < cards.size()) append(cards[static_cast<std::size_t>(r)]);
    }
  }
  return out;
}

std::string StockCardsCsv(const std::vector<StockCard>& cards, CsvEncoding encoding) {
  static const std::array<std::string, 3> kHeader = {"宝贝名称"_gbk, "宝贝卡号"_gbk, "宝贝卡密"_gbk};
  std::string out = Start(encoding);
  AppendRecord(out, kHeader, encoding);
  for (const StockCard& c : cards) {
    const std::array<std::string, 3> fields = {c.itemName, c.cardNumber, c.cardPassword};
    AppendRecord(out, fields, encoding);
  }
  return out;
}

bool WriteExportFile(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const std::string temp = path + ".part";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = WriteFully(DefaultFileIo(), fd, bytes.data(), bytes.size(), 0) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace autodeliver
