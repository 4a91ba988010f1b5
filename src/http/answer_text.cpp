#include "http/answer_text.h"

#include <iconv.h>
#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>

#include "text/gbk.h"

namespace autodeliver {

std::string TextBetween(std::string_view text, std::string_view left, std::string_view right) {
  if (right.empty()) {
    long p = FindText(text, left);
    if (p == -1) return {};
    return std::string(text.substr(static_cast<size_t>(p - 1) + left.size()));
  }
  if (left.empty()) {
    long p = FindText(text, right);
    if (p == -1) return {};
    return std::string(text.substr(0, static_cast<size_t>(p - 1)));
  }
  long p = FindText(text, left);
  if (p == -1) return {};
  std::string_view rest = text.substr(static_cast<size_t>(p - 1) + left.size());
  long q = FindText(rest, right);
  if (q == -1) return {};
  return std::string(rest.substr(0, static_cast<size_t>(q - 1)));
}

std::string DecodeServiceAnswer(std::string_view body) {
  size_t nul = body.find('\0');
  if (nul != std::string_view::npos) body = body.substr(0, nul);
  if (body.empty()) return {};
  iconv_t cd = iconv_open("GB2312", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out;
  char* in = const_cast<char*>(body.data());
  size_t inLeft = body.size();
  char buffer[4096];
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  return ok ? out : std::string();
}

std::string HexOfBytes(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char b : text) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

std::string TimeToken(std::time_t now) {
  // Seconds from local midnight 1970-01-01 to local now: the local broken-
  // down time read back as if it were UTC, so the zone offset is included.
  std::tm local{};
  localtime_r(&now, &local);
  long long seconds = static_cast<long long>(timegm(&local));
  if (seconds < 0) seconds = 0;
  const std::string h = HexOfBytes(std::to_string(seconds));
  auto part = [&h](size_t from, size_t count) {
    return from < h.size() ? h.substr(from, count) : std::string();
  };
  const std::string last = h.size() >= 5 ? h.substr(h.size() - 5) : h;
  return "\\u" + part(0, 5) + "\\u" + part(5, 5) + "\\u" + part(10, 5) + "\\u" + last;
}

std::string TimeToken() { return TimeToken(std::time(nullptr)); }

std::string ShortDigest(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
  char hex[2 * EVP_MAX_MD_SIZE + 1];
  for (unsigned int i = 0; i < length; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return std::string(hex + 16, 6);
}

}  // namespace autodeliver
