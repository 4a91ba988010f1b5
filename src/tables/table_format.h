// Byte layout of the record-table file (.EDB), its companion block file
// (.EDT) and the purge journal, shared by the reader, the writer and the
// tests that build files by hand. All integers are little-endian; "int32" is a signed 32-bit integer.
//
// Table file:
//
//   +0    header, 112 bytes
//         +0  "WEDB"   +4 version   +16 record count   +20 next record id
//         +24 record size           (other bytes unused)
//   +112  int32 field count n
//   +116  n field descriptors of 72 bytes
//         +0 name (zero-terminated GBK, <= 16 bytes)  +20 type  +24 offset
//         +28 width (type 10 only)
//   +116 + 72 n   data area: record count x record size bytes
//         each record: +0 int32 id (negative = marked deleted), then fields
//
// Companion file: 512-byte blocks, block b at b x 512.
//   block 0: +0 "WEDT" +4 version +16 block count +20 first free block
//            +24 number of free blocks
//   data block: +0 unused (a reused block keeps its old free-list link)
//            +4 next block of the chain (<= 0 ends it) +8 value bytes in
//            this block (0..500) +12 the bytes
//   free block: +0 next free block (0 ends the list) +4 0 +8 -1, the mark
//            that no chain can carry; a block freed by an older writer may
//            lack it
//
// Purge journal ("<table file>.purge"), written whole before a purge
// rewrites the data area, and removed once the rewrite is done:
//
//   +0   "WPRG", written last: a journal without it was never complete
//   +4   int32 record size
//   +8   int32 index (0-based) of the first removed record
//   +12  int32 records kept in all
//   +16  the kept records from that index on, record size bytes each
//
// Thread safety: constants only.
#pragma once

#include <cstdint>

namespace autodeliver::table_format {

inline constexpr char kTableMagic[4] = {'W', 'E', 'D', 'B'};
inline constexpr char kBlockMagic[4] = {'W', 'E', 'D', 'T'};
inline constexpr std::int32_t kVersion = 0x10000;

inline constexpr int kHeaderSize = 112;
inline constexpr int kVersionOffset = 4;
inline constexpr int kRecordCountOffset = 16;
inline constexpr int kNextIdOffset = 20;
inline constexpr int kRecordSizeOffset = 24;

inline constexpr int kFieldCountOffset = kHeaderSize;       // 112
inline constexpr int kDescriptorsOffset = kHeaderSize + 4;  // 116
inline constexpr int kDescriptorSize = 72;
inline constexpr int kNameSize = 17;  // name + terminating zero
inline constexpr int kMaxNameBytes = 16;
inline constexpr int kTypeOffset = 20;
inline constexpr int kFieldOffsetOffset = 24;
inline constexpr int kWidthOffset = 28;

inline constexpr int kIdSize = 4;

// Scans read the data area in chunks of this many bytes (at least one
// record per read).
inline constexpr int kScanChunkBytes = 0x28000;

inline constexpr int kBlockSize = 512;
inline constexpr int kBlockCountOffset = 16;
inline constexpr int kFreeHeadOffset = 20;
inline constexpr int kFreeCountOffset = 24;
inline constexpr int kBlockFreeNextOffset = 0;
inline constexpr int kBlockNextOffset = 4;
inline constexpr int kBlockLengthOffset = 8;
inline constexpr int kBlockDataOffset = 12;
inline constexpr int kBlockPayload = kBlockSize - kBlockDataOffset;  // 500
inline constexpr int kFreeLinkBytes = 12;                            // next free, 0, the free mark
inline constexpr std::int32_t kFreeMark = -1;

inline constexpr char kJournalMagic[4] = {'W', 'P', 'R', 'G'};
inline constexpr int kJournalRecordSizeOffset = 4;
inline constexpr int kJournalFromOffset = 8;
inline constexpr int kJournalKeptOffset = 12;
inline constexpr int kJournalHeaderSize = 16;

// Field types.
enum FieldType : std::int32_t {
  kByte = 1,
  kShort = 2,
  kInt32 = 3,
  kInt64 = 4,
  kFloat = 5,
  kDouble = 6,
  kBoolean = 7,
  kDateTime = 8,
  kRoutine = 9,
  kFixedText = 10,
  kBytes = 11,
  kLongText = 12,
};

// Bytes a field of `type` takes in the record (type 10: its width).
constexpr int FieldBytes(std::int32_t type, std::int32_t width) {
  switch (type) {
    case kByte:
    case kBoolean:
      return 1;
    case kShort:
      return 2;
    case kInt32:
    case kFloat:
    case kRoutine:
    case kBytes:
    case kLongText:
      return 4;
    case kInt64:
    case kDouble:
    case kDateTime:
      return 8;
    case kFixedText:
      return width;
    default:
      return 0;
  }
}

// Read date-time values are clamped to 0100-01-01 .. 9999-12-31.
inline constexpr double kMinDate = -657434.0;
inline constexpr double kMaxDate = 2958465.0;

}  // namespace autodeliver::table_format
