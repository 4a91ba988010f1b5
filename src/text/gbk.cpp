// GBK text conversion and byte-position searches.
#include "text/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace autodeliver {
namespace {

// The code page of the system's texts. glibc's CP936 is the Windows code
// page 936 (GBK with 0x80 as the euro sign), which is what the marketplace
// pages and the table files hold.
constexpr const char* kGbkName = "CP936";

enum class OnError { kFail, kSubstitute };

// Converts with iconv. On an invalid or unconvertible sequence either fails
// (nullopt) or writes `substitute` and skips `skipBytes` input bytes.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in, OnError onError,
                                   std::string_view substitute, bool utf8Input) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.reserve(in.size() * 2 + 4);
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char buffer[4096];
  std::optional<std::string> result;
  bool failed = false;
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (onError == OnError::kFail) {
      failed = true;
      break;
    }
    // EILSEQ or EINVAL: substitute and skip one character's worth of input.
    out.append(substitute);
    size_t skip = 1;
    if (!utf8Input && IsGbkLeadByte(static_cast<unsigned char>(*inPtr)) && inLeft >= 2 &&
        static_cast<unsigned char>(inPtr[1]) >= 0x40 && static_cast<unsigned char>(inPtr[1]) != 0x7F &&
        static_cast<unsigned char>(inPtr[1]) != 0xFF) {
      skip = 2;  // a well-formed pair the code page leaves unassigned
    } else if (utf8Input) {
      // Skip the lead byte and its continuation bytes.
      while (skip < inLeft && (static_cast<unsigned char>(inPtr[skip]) & 0xC0) == 0x80 && skip < 4) ++skip;
    }
    inPtr += skip;
    inLeft -= skip;
  }
  if (!failed) {
    // Flush any shift state (none for these encodings, but harmless).
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    result = std::move(out);
  }
  iconv_close(cd);
  return result;
}

bool BytesEqualAt(std::string_view text, size_t at, std::string_view pattern, bool ignoreCase) {
  for (size_t k = 0; k < pattern.size(); ++k) {
    unsigned char a = text[at + k];
    unsigned char b = pattern[k];
    if (a == b) continue;
    if (!ignoreCase) return false;
    if (a >= 'A' && a <= 'Z') a += 32;
    if (b >= 'A' && b <= 'Z') b += 32;
    if (a != b) return false;
  }
  return true;
}

bool IsSpaceAt(std::string_view text, size_t i, size_t* width) {
  if (text[i] == ' ') {
    *width = 1;
    return true;
  }
  if (i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xA1 &&
      static_cast<unsigned char>(text[i + 1]) == 0xA1) {
    *width = 2;
    return true;
  }
  return false;
}

// Width of the character that starts at byte i (1 or 2).
size_t CharWidth(std::string_view text, size_t i) {
  return (IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  return Convert(kGbkName, "UTF-8", utf8, OnError::kFail, "", true);
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  return Convert("UTF-8", kGbkName, gbk, OnError::kFail, "", false);
}

std::string GbkToUtf8Lossy(std::string_view gbk) {
  return Convert("UTF-8", kGbkName, gbk, OnError::kSubstitute, "\xEF\xBF\xBD", false).value_or(std::string());
}

std::string Utf8ToGbkLossy(std::string_view utf8) {
  return Convert(kGbkName, "UTF-8", utf8, OnError::kSubstitute, "?", true).value_or(std::string());
}

long FindText(std::string_view text, std::string_view pattern, long start, bool ignoreAsciiCase) {
  if (start < 1) start = 1;
  size_t i = static_cast<size_t>(start - 1);
  if (i > text.size()) return -1;
  if (pattern.empty()) return i < text.size() ? start : -1;
  while (i + pattern.size() <= text.size()) {
    if (BytesEqualAt(text, i, pattern, ignoreAsciiCase)) return static_cast<long>(i) + 1;
    i += CharWidth(text, i);
  }
  return -1;
}

std::string ReplaceText(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (i + from.size() <= text.size() && BytesEqualAt(text, i, from, false)) {
      out.append(to);
      i += from.size();
      continue;
    }
    size_t w = CharWidth(text, i);
    out.append(text.substr(i, w));
    i += w;
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); i += CharWidth(out, i)) {
    if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] + 32);
  }
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); i += CharWidth(out, i)) {
    if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 32);
  }
  return out;
}

std::string TrimSpaces(std::string_view text) {
  size_t begin = 0;
  size_t w = 0;
  while (begin < text.size() && IsSpaceAt(text, begin, &w)) begin += w;
  // Walk forward to find the end of the last non-space character, so the
  // trail byte of a double-byte character is never taken for a space.
  size_t end = begin;
  size_t i = begin;
  while (i < text.size()) {
    if (IsSpaceAt(text, i, &w)) {
      i += w;
    } else {
      i += CharWidth(text, i);
      end = i;
    }
  }
  return std::string(text.substr(begin, end - begin));
}

std::string RemoveSpaces(std::string_view text) {
  std::string out;
  size_t i = 0;
  size_t w = 0;
  while (i < text.size()) {
    if (IsSpaceAt(text, i, &w)) {
      i += w;
    } else {
      w = CharWidth(text, i);
      out.append(text.substr(i, w));
      i += w;
    }
  }
  return out;
}

}  // namespace autodeliver

std::string operator""_gbk(const char* utf8, std::size_t length) {
  auto gbk = autodeliver::Utf8ToGbk(std::string_view(utf8, length));
  if (!gbk) {
    std::fprintf(stderr, "autodeliver: literal has no GBK form: %.*s\n", static_cast<int>(length), utf8);
    std::abort();
  }
  return *gbk;
}
