// Byte layout of the Jet4 (Access 2000) database file, shared by the code
// that creates a file and the code that appends rows to one. Numbers are
// little-endian; a "data pointer" is page << 8 | row.
//
// The file is a sequence of 4096-byte pages; byte 0 of a page gives its kind.
//
//   page 0, database definition:
//     00 00 01 00 00 | 04 "Standard Jet DB\0" | 14 u32 version (1 = Jet4)
//     18..98 RC4-masked block (fixed key), holding when unmasked:
//       3C u16 code page | 3E u32 database key (0 = pages not masked)
//       42 40-byte password | 6E u32 sort order | 72 f64 creation date
//
//   data page (01):
//     00 01 01 | 02 u16 free space | 04 u32 owning table definition page
//     08 u32 0 | 0C u16 row count | 0E u16 row offsets, one per row
//     Rows fill the page from its end towards the offsets. An offset with
//     0x8000 set is a deleted row, 0x4000 a row holding only a data pointer
//     to where the row moved. Row i ends where row i-1 starts (row 0 at the
//     page end).
//
//   row:
//     u16 column count | fixed-length values at 2 + fixed offset
//     | variable-length values | u16 end of data
//     | u16 start of variable value n-1 ... u16 start of variable value 0
//     | u16 n | null mask (one bit per column number, 1 = has a value)
//
//   table definition page (02):
//     00 02 01 | 02 u16 free space - 8 | 04 u32 continuation page (0 = none)
//     08 u32 definition length | 0C u32 0 | 10 u32 row count
//     14 u32 next auto number | 18 u8 auto-number flag | 1C u32 | 20 8 bytes
//     28 u8 table type (4E user, 53 system) | 29 u16 max columns
//     2B u16 variable columns | 2D u16 columns | 2F u32 logical indexes
//     33 u32 physical indexes | 37 u32 data pointer of the used-pages map
//     3B u32 data pointer of the free-space map
//     3F 12 bytes per physical index
//     then 25 bytes per column (see kColumn* below),
//     then per column u16 name length + UCS-2 name,
//     then the index sections (absent here), then u16 FFFF.
//     A continuation page carries on the definition from its byte 8.
//
//   usage map (a row on a data page):
//     type 0: u8 0 | u32 first page | bitmap, bit k = page first + k
//     type 1: u8 1 | u32 map page ... ; map page i (kind 05, bitmap from
//             byte 4) covers pages i * kPagesPerMapPage onwards.
//
//   text value: UCS-2, or when shorter "FF FE" followed by one byte per
//   character, a 00 byte switching between one- and two-byte characters.
//
// Thread safety: constants only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace autodeliver::jet4 {

inline constexpr std::size_t kPageSize = 4096;

// Page kinds (byte 0 of a page).
inline constexpr std::uint8_t kPageDatabase = 0x00;
inline constexpr std::uint8_t kPageData = 0x01;
inline constexpr std::uint8_t kPageTableDef = 0x02;
inline constexpr std::uint8_t kPageUsageMap = 0x05;

// Database definition page.
inline constexpr std::size_t kVersionOffset = 0x14;
inline constexpr std::uint32_t kVersionJet4 = 1;
inline constexpr std::size_t kMaskedStart = 0x18;
inline constexpr std::size_t kMaskedLength = 128;
inline constexpr std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
inline constexpr std::size_t kCodePageOffset = 0x3C;
inline constexpr std::size_t kDatabaseKeyOffset = 0x3E;
inline constexpr std::size_t kSortOrderOffset = 0x6E;
inline constexpr std::size_t kCreationDateOffset = 0x72;

// Data page.
inline constexpr std::size_t kDataFreeSpace = 2;
inline constexpr std::size_t kDataTableDef = 4;
inline constexpr std::size_t kDataRowCount = 12;
inline constexpr std::size_t kDataRowOffsets = 14;
inline constexpr std::uint16_t kRowDeleted = 0x8000;
inline constexpr std::uint16_t kRowMoved = 0x4000;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
// A row number is one byte in every data pointer.
inline constexpr std::size_t kMaxRowsPerPage = 255;

// Table definition page.
inline constexpr std::size_t kTdefFreeSpace = 2;
inline constexpr std::size_t kTdefNextPage = 4;
inline constexpr std::size_t kTdefLength = 8;
inline constexpr std::size_t kTdefRowCount = 16;
inline constexpr std::size_t kTdefAutoNumber = 20;
inline constexpr std::size_t kTdefTableType = 40;
inline constexpr std::size_t kTdefMaxColumns = 41;
inline constexpr std::size_t kTdefVarColumns = 43;
inline constexpr std::size_t kTdefColumns = 45;
inline constexpr std::size_t kTdefLogicalIndexes = 47;
inline constexpr std::size_t kTdefPhysicalIndexes = 51;
inline constexpr std::size_t kTdefUsedMap = 55;
inline constexpr std::size_t kTdefFreeMap = 59;
inline constexpr std::size_t kTdefIndexEntries = 63;
inline constexpr std::size_t kTdefIndexEntrySize = 12;
inline constexpr std::uint8_t kTableUser = 0x4E;
inline constexpr std::uint8_t kTableSystem = 0x53;

// One column entry of a table definition (25 bytes).
inline constexpr std::size_t kColumnEntrySize = 25;
inline constexpr std::size_t kColumnType = 0;
inline constexpr std::size_t kColumnNumber = 5;
inline constexpr std::size_t kColumnVarIndex = 7;
inline constexpr std::size_t kColumnNumber2 = 9;
inline constexpr std::size_t kColumnSortOrder = 11;
inline constexpr std::size_t kColumnFlags = 15;
inline constexpr std::size_t kColumnMiscFlags = 16;
inline constexpr std::size_t kColumnFixedOffset = 21;
inline constexpr std::size_t kColumnLength = 23;

// Column flags.
inline constexpr std::uint8_t kColumnFixed = 0x01;
inline constexpr std::uint8_t kColumnNullable = 0x02;
inline constexpr std::uint8_t kColumnAutoLong = 0x04;
inline constexpr std::uint8_t kColumnAutoGuid = 0x40;
// Misc flag: text values may be stored in the one-byte form.
inline constexpr std::uint8_t kColumnCompressed = 0x01;

// Column types.
inline constexpr std::uint8_t kTypeInt = 0x03;
inline constexpr std::uint8_t kTypeLong = 0x04;
inline constexpr std::uint8_t kTypeDateTime = 0x08;
inline constexpr std::uint8_t kTypeText = 0x0A;
inline constexpr std::uint8_t kTypeLongBinary = 0x0B;

// Text columns: sort order "General" (1033).
inline constexpr std::uint16_t kSortGeneral = 0x0409;
inline constexpr std::uint16_t kCodePage1252 = 0x04E4;
// The longest text column: 255 characters of two bytes.
inline constexpr std::uint16_t kMaxTextBytes = 510;

// Usage maps.
inline constexpr std::uint8_t kMapInline = 0;
inline constexpr std::uint8_t kMapPaged = 1;
inline constexpr std::size_t kMapPageBitmap = 4;
inline constexpr std::size_t kPagesPerMapPage = (kPageSize - kMapPageBitmap) * 8;
// Bitmap bytes of an inline map as this writer lays it out.
inline constexpr std::size_t kInlineMapBytes = 64;

// Catalog (MSysObjects): its definition is always on page 2.
inline constexpr std::uint32_t kCatalogPage = 2;
inline constexpr std::uint16_t kObjectTable = 1;
inline constexpr std::uint16_t kObjectContainer = 3;
inline constexpr std::uint32_t kObjectIdMask = 0x00FFFFFF;
inline constexpr std::uint32_t kSystemObjectFlags = 0x80000002;

}  // namespace autodeliver::jet4
