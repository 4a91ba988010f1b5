// Little-endian coding of fixed-size numbers, shared by the record-table
// engine and the Jet4 writer: both file formats store every integer and
// real little-endian, whatever the machine's own byte order.
//
// EncodeFixedN writes the N/8 bytes of a value at `dst`; DecodeFixedN reads
// them back. The caller guarantees that the bytes lie inside its buffer; the
// string forms (PutFixedN) write inside a string that is already long enough.
// Signed values and IEEE reals are coded by their bit pattern.
//
// Thread safety: free of shared state.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace autodeliver {

// On a little-endian machine the bytes are the value's own, and a memcpy
// compiles to one load or store; elsewhere they are assembled byte by byte.
template <typename T>
inline void EncodeFixed(char* dst, T v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(dst, &v, sizeof v);
  } else {
    for (std::size_t i = 0; i < sizeof v; ++i) dst[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
}

template <typename T>
inline T DecodeFixed(const char* p) {
  T v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, sizeof v);
  } else {
    for (std::size_t i = sizeof v; i-- > 0;) v = static_cast<T>(v << 8 | static_cast<unsigned char>(p[i]));
  }
  return v;
}

inline void EncodeFixed16(char* dst, std::uint16_t v) { EncodeFixed(dst, v); }
inline void EncodeFixed32(char* dst, std::uint32_t v) { EncodeFixed(dst, v); }
inline void EncodeFixed64(char* dst, std::uint64_t v) { EncodeFixed(dst, v); }
inline std::uint16_t DecodeFixed16(const char* p) { return DecodeFixed<std::uint16_t>(p); }
inline std::uint32_t DecodeFixed32(const char* p) { return DecodeFixed<std::uint32_t>(p); }
inline std::uint64_t DecodeFixed64(const char* p) { return DecodeFixed<std::uint64_t>(p); }

inline void EncodeInt32(char* dst, std::int32_t v) { EncodeFixed32(dst, static_cast<std::uint32_t>(v)); }
inline std::int32_t DecodeInt32(const char* p) { return static_cast<std::int32_t>(DecodeFixed32(p)); }

inline void EncodeFloat(char* dst, float v) { EncodeFixed32(dst, std::bit_cast<std::uint32_t>(v)); }
inline float DecodeFloat(const char* p) { return std::bit_cast<float>(DecodeFixed32(p)); }

inline void EncodeDouble(char* dst, double v) { EncodeFixed64(dst, std::bit_cast<std::uint64_t>(v)); }
inline double DecodeDouble(const char* p) { return std::bit_cast<double>(DecodeFixed64(p)); }

// The same inside a byte string: bytes [at, at + N/8) must exist.
inline void PutFixed16(std::string& buf, std::size_t at, std::uint16_t v) {
  EncodeFixed16(buf.data() + at, v);
}
inline void PutFixed32(std::string& buf, std::size_t at, std::uint32_t v) {
  EncodeFixed32(buf.data() + at, v);
}

}  // namespace autodeliver
