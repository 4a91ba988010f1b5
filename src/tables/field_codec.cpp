#include "tables/field_codec.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/coding.h"
#include "tables/block_file.h"
#include "tables/table_format.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {

namespace fmt = table_format;

namespace {

// Day 0 of a stored date-time.
constexpr std::chrono::sys_days kOleEpoch{std::chrono::year{1899} / std::chrono::December / 30};

std::string FormatReal(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

bool IsStoredInBlocks(std::int32_t type) { return type == fmt::kBytes || type == fmt::kLongText; }

std::size_t FixedTextLength(std::string_view text, std::int32_t width) {
  std::size_t limit = width > 0 ? static_cast<std::size_t>(width) : 0;
  if (text.size() <= limit) return text.size();
  std::size_t at = 0;
  while (at < limit) {
    std::size_t step = IsGbkLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
    if (at + step > limit) break;
    at += step;
  }
  return at;
}

std::string FormatOleDate(double days) {
  using namespace std::chrono;
  double whole = std::floor(days);
  long long secs = std::llround((days - whole) * 86400.0);
  sys_days day = kOleEpoch + std::chrono::days{static_cast<long long>(whole)};
  if (secs >= 86400) {
    secs -= 86400;
    day += std::chrono::days{1};
  }
  year_month_day date{day};
  hh_mm_ss<seconds> time{seconds{secs}};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02lld:%02lld:%02lld", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long long>(time.hours().count()), static_cast<long long>(time.minutes().count()),
                static_cast<long long>(time.seconds().count()));
  return buf;
}

std::optional<FieldValue> DecodeField(const char* rec, const FieldInfo& f, BlockFile* blocks, bool mapped) {
  const char* p = rec + f.offset;
  switch (f.type) {
    case fmt::kByte:
      return std::int64_t{static_cast<unsigned char>(p[0])};
    case fmt::kShort:
      return std::int64_t{static_cast<std::int16_t>(DecodeFixed16(p))};
    case fmt::kInt32:
    case fmt::kRoutine:
      return std::int64_t{DecodeInt32(p)};
    case fmt::kInt64:
      return static_cast<std::int64_t>(DecodeFixed64(p));
    case fmt::kFloat:
      return double{DecodeFloat(p)};
    case fmt::kDouble:
      return DecodeDouble(p);
    case fmt::kDateTime: {
      double v = DecodeDouble(p);
      return std::isnan(v) ? 0.0 : std::clamp(v, fmt::kMinDate, fmt::kMaxDate);
    }
    case fmt::kBoolean:
      return p[0] != 0;
    case fmt::kFixedText: {
      const void* zero = std::memchr(p, 0, f.width);
      std::size_t len = zero ? static_cast<const char*>(zero) - p : static_cast<std::size_t>(f.width);
      return std::string(p, len);
    }
    case fmt::kBytes:
    case fmt::kLongText: {
      std::string out;
      if (!blocks || !blocks->ReadChain(DecodeInt32(p), &out, mapped)) return std::nullopt;
      if (f.type == fmt::kLongText) {
        std::size_t zero = out.find('\0');
        if (zero != std::string::npos) out.resize(zero);
      }
      return out;
    }
    default:
      return std::nullopt;
  }
}

std::string FieldText(const FieldValue& value, std::int32_t type) {
  if (auto* s = std::get_if<std::string>(&value)) return *s;
  if (auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
  if (auto* b = std::get_if<bool>(&value)) return *b ? "真"_gbk : "假"_gbk;
  double d = std::get<double>(value);
  return type == fmt::kDateTime ? FormatOleDate(d) : FormatReal(d);
}

bool EncodeField(char* rec, const FieldInfo& f, const std::string& text, BlockFile* blocks,
                 std::int32_t* oldChain, std::int32_t* newChain) {
  *oldChain = 0;
  *newChain = 0;
  char* p = rec + f.offset;
  switch (f.type) {
    case fmt::kByte:
      p[0] = static_cast<char>(TextToInt(text));
      return true;
    case fmt::kShort:
      EncodeFixed16(p, static_cast<std::uint16_t>(TextToInt(text)));
      return true;
    case fmt::kInt32:
    case fmt::kRoutine:
      EncodeInt32(p, TextToInt(text));
      return true;
    case fmt::kInt64:
      EncodeFixed64(p, static_cast<std::uint64_t>(std::strtoll(FoldFullWidth(text).c_str(), nullptr, 10)));
      return true;
    case fmt::kFloat:
      EncodeFloat(p, std::strtof(FoldFullWidth(text).c_str(), nullptr));
      return true;
    case fmt::kDouble:
    case fmt::kDateTime:
      EncodeDouble(p, std::strtod(FoldFullWidth(text).c_str(), nullptr));
      return true;
    case fmt::kBoolean: {
      static const std::string kTrue = "真"_gbk, kYes = "是"_gbk;
      p[0] = (text == kTrue || text == kYes || TextToInt(text) != 0) ? 1 : 0;
      return true;
    }
    case fmt::kFixedText: {
      std::size_t len = FixedTextLength(text, f.width);
      std::memcpy(p, text.data(), len);
      if (len < static_cast<std::size_t>(f.width)) p[len] = 0;
      return true;
    }
    case fmt::kBytes:
    case fmt::kLongText: {
      std::int32_t first = 0;
      if (!blocks || !blocks->WriteChain(text, &first)) return false;
      *oldChain = DecodeInt32(p);
      *newChain = first;
      EncodeInt32(p, first);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace autodeliver
