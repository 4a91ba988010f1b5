// The check of the typed scan interval; see scan_interval.h.
#include "delivery/scan_interval.h"

#include "text/gbk.h"

namespace autodeliver {
namespace {

// The digit at `text[i]` (ASCII, or full-width A3 B0..A3 B9 in GBK) and its
// width in bytes; width 0 when there is none.
int DigitAt(const std::string& text, std::size_t i, int* digit) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c >= '0' && c <= '9') {
    *digit = c - '0';
    return 1;
  }
  if (c == 0xA3 && i + 1 < text.size()) {
    const unsigned char d = static_cast<unsigned char>(text[i + 1]);
    if (d >= 0xB0 && d <= 0xB9) {
      *digit = d - 0xB0;
      return 2;
    }
  }
  return 0;
}

// The text without ASCII blanks and full-width spaces at either end.
std::string Trimmed(const std::string& text) {
  static const std::string kWide = "　"_gbk;
  std::size_t from = 0;
  std::size_t to = text.size();
  for (;;) {
    if (from < to && (text[from] == ' ' || text[from] == '\t')) {
      ++from;
    } else if (to - from >= kWide.size() && text.compare(from, kWide.size(), kWide) == 0) {
      from += kWide.size();
    } else {
      break;
    }
  }
  for (;;) {
    if (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t')) {
      --to;
    } else if (to - from >= kWide.size() && text.compare(to - kWide.size(), kWide.size(), kWide) == 0) {
      to -= kWide.size();
    } else {
      break;
    }
  }
  return text.substr(from, to - from);
}

}  // namespace

ScanIntervalCheck CheckScanInterval(const std::string& typed) {
  ScanIntervalCheck check;
  const std::string text = Trimmed(typed);
  if (text.empty()) {
    check.refusal = "请输入扫描间隔的秒数"_gbk;
    return check;
  }
  const bool negative = text[0] == '-';
  long long value = 0;
  std::size_t digits = 0;
  for (std::size_t i = negative ? 1 : 0; i < text.size();) {
    int digit = 0;
    const int width = DigitAt(text, i, &digit);
    if (width == 0) {
      check.refusal = "扫描间隔只能填整数秒数（只填数字）"_gbk;
      return check;
    }
    if (value <= kMaxScanSeconds) value = value * 10 + digit;
    ++digits;
    i += static_cast<std::size_t>(width);
  }
  if (digits == 0) {
    check.refusal = "扫描间隔只能填整数秒数（只填数字）"_gbk;
  } else if (negative || value == 0) {
    check.refusal = "扫描间隔必须大于 0 秒"_gbk;
  } else if (value < kMinScanSeconds) {
    check.refusal = "扫描间隔至少 5 秒"_gbk;
  } else if (value > kMaxScanSeconds) {
    check.refusal = "扫描间隔不能超过 86400 秒（一天）"_gbk;
  } else {
    check.seconds = static_cast<int>(value);
  }
  return check;
}

}  // namespace autodeliver
