// Bytes as lower-case hex digits and back, for tests that compare or print
// raw bytes (GBK texts, file contents).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace autodeliver::testing {

inline std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// nullopt on an odd length or a character that is not a hex digit (either
// case).
inline std::optional<std::string> FromHex(std::string_view hex) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]), low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high << 4 | low));
  }
  return out;
}

}  // namespace autodeliver::testing
