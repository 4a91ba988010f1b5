// Test helpers: table and companion files written byte by byte, with the
// offsets spelled out here rather than taken from the engine.
#pragma once

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace autodeliver::testing {

inline void Put32(std::string& b, std::size_t at, std::int32_t v) {
  if (b.size() < at + 4) b.resize(at + 4, '\0');
  auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

inline std::int32_t Get32(const std::string& b, std::size_t at) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = u << 8 | static_cast<unsigned char>(b[at + i]);
  return static_cast<std::int32_t>(u);
}

struct RawField {
  std::string name;
  std::int32_t type;
  std::int32_t offset;
  std::int32_t width;
};

// Header (112 bytes), field count, 72-byte descriptors. Records follow at
// 116 + 72 n.
inline std::string RawHeader(const std::vector<RawField>& fields, std::int32_t count, std::int32_t nextId,
                             std::int32_t recordSize, std::int32_t version = 0x10000) {
  std::string b(112, '\0');
  std::memcpy(b.data(), "WEDB", 4);
  Put32(b, 4, version);
  Put32(b, 16, count);
  Put32(b, 20, nextId);
  Put32(b, 24, recordSize);
  Put32(b, 112, static_cast<std::int32_t>(fields.size()));
  for (const RawField& f : fields) {
    std::string d(72, '\0');
    std::memcpy(d.data(), f.name.data(), std::min<std::size_t>(f.name.size(), 20));
    Put32(d, 20, f.type);
    Put32(d, 24, f.offset);
    Put32(d, 28, f.width);
    b += d;
  }
  return b;
}

inline std::string RawBlock0(std::int32_t blockCount, std::int32_t freeHead = 0, std::int32_t freeCount = 0,
                             std::int32_t version = 0x10000) {
  std::string b(512, '\0');
  std::memcpy(b.data(), "WEDT", 4);
  Put32(b, 4, version);
  Put32(b, 16, blockCount);
  Put32(b, 20, freeHead);
  Put32(b, 24, freeCount);
  return b;
}

inline std::string RawBlock(std::int32_t next, const std::string& bytes, std::int32_t length = INT32_MIN) {
  std::string b(512, '\0');
  Put32(b, 4, next);
  Put32(b, 8, length == INT32_MIN ? static_cast<std::int32_t>(bytes.size()) : length);
  std::memcpy(b.data() + 12, bytes.data(), std::min<std::size_t>(bytes.size(), 500));
  return b;
}

}  // namespace autodeliver::testing
