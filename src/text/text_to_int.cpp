#include "text/text_to_int.h"

#include <climits>

#include "text/gbk.h"

namespace autodeliver {

std::string FoldFullWidth(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = text[i];
    if (IsGbkLeadByte(b) && i + 1 < text.size()) {
      unsigned char t = text[i + 1];
      if (b == 0xA3 && t >= 0xA1 && t <= 0xFE) {
        out.push_back(static_cast<char>(t - 0x80));
      } else if (b == 0xA1 && t == 0xA1) {
        out.push_back(' ');
      } else {
        out.append(text.substr(i, 2));
      }
      i += 2;
    } else {
      out.push_back(static_cast<char>(b));
      ++i;
    }
  }
  return out;
}

int TextToInt(std::string_view text) {
  const std::string folded = FoldFullWidth(text);
  size_t i = 0;
  while (i < folded.size() && (folded[i] == ' ' || folded[i] == '\t')) ++i;
  bool negative = false;
  if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) {
    negative = folded[i] == '-';
    ++i;
  }
  long long value = 0;
  while (i < folded.size() && folded[i] >= '0' && folded[i] <= '9') {
    value = value * 10 + (folded[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    ++i;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

}  // namespace autodeliver
