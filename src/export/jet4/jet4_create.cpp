// CreateCardDatabase: lays out a new Jet4 file page by page (see
// jet4_format.h):
//
//   0 database definition   1 data page holding the usage-map rows
//   2 catalog definition    3 catalog rows
//   4 `biao` definition     5 `biao`'s first (empty) data page
//   6 `biao` used-pages map page   7 `biao` free-space map page
//
// The catalog lists the "Tables" container, itself and `biao`. The
// database-wide map (row 0 of page 1) lists pages free for reuse; a new file
// has none, and the writer never releases a page.
#include <ctime>
#include <string>
#include <vector>

#include "export/jet4/jet4_file.h"
#include "export/jet4/jet4_format.h"
#include "export/jet4/jet4_image.h"
#include "export/jet4/jet4_replace.h"
#include "io/coding.h"

namespace autodeliver {

namespace jet4 {
namespace {

constexpr std::uint32_t kMapRowsPage = 1;
constexpr std::uint32_t kCatalogDataPage = 3;
constexpr std::uint32_t kCardTablePage = 4;
constexpr std::uint32_t kCardDataPage = 5;
constexpr std::uint32_t kCardUsedMapPage = 6;
constexpr std::uint32_t kCardFreeMapPage = 7;
constexpr std::uint32_t kPageCount = 8;

constexpr std::uint32_t kTablesContainerId = 0x0F000001;
constexpr std::uint32_t kRootId = 0x0F000000;

std::uint32_t Pointer(std::uint32_t page, std::uint32_t row) { return page << 8 | row; }

std::string Blank(std::uint8_t kind) {
  std::string page(kPageSize, '\0');
  page[0] = static_cast<char>(kind);
  page[1] = kind == kPageDatabase ? 0x00 : 0x01;
  return page;
}

std::string DatabasePage() {
  std::string page = Blank(kPageDatabase);
  page[1] = 0x01;
  page.replace(4, 16, std::string("Standard Jet DB\0", 16));
  PutFixed32(page, kVersionOffset, kVersionJet4);
  // The block is stored masked; written here in the clear, masked below. The
  // creation date stays zero, which leaves the empty password unmasked.
  PutFixed16(page, kCodePageOffset, kCodePage1252);
  PutFixed32(page, kDatabaseKeyOffset, 0);
  PutFixed32(page, kSortOrderOffset, kSortGeneral);
  MaskHeaderBlock(page);
  return page;
}

// Appends rows to a fresh data page owned by `tableDef`.
std::string DataPage(std::uint32_t tableDef, const std::vector<std::string>& rows) {
  std::string page = Blank(kPageData);
  PutFixed32(page, kDataTableDef, tableDef);
  std::size_t end = kPageSize;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    end -= rows[r].size();
    page.replace(end, rows[r].size(), rows[r]);
    PutFixed16(page, kDataRowOffsets + 2 * r, static_cast<std::uint16_t>(end));
  }
  PutFixed16(page, kDataRowCount, static_cast<std::uint16_t>(rows.size()));
  PutFixed16(page, kDataFreeSpace, static_cast<std::uint16_t>(end - (kDataRowOffsets + 2 * rows.size())));
  return page;
}

std::string InlineMap(std::initializer_list<std::uint32_t> pages) {
  std::string row(5 + kInlineMapBytes, '\0');
  row[0] = static_cast<char>(kMapInline);
  PutFixed32(row, 1, 0);
  for (std::uint32_t p : pages) row[5 + p / 8] = static_cast<char>(row[5 + p / 8] | 1 << (p % 8));
  return row;
}

std::string PagedMap(std::uint32_t firstMapPage) {
  std::string row(5 + kInlineMapBytes, '\0');
  row[0] = static_cast<char>(kMapPaged);
  PutFixed32(row, 1, firstMapPage);
  return row;
}

std::string MapPage(std::initializer_list<std::uint32_t> pages) {
  std::string page = Blank(kPageUsageMap);
  for (std::uint32_t p : pages) {
    std::size_t at = kMapPageBitmap + p / 8;
    page[at] = static_cast<char>(page[at] | 1 << (p % 8));
  }
  return page;
}

struct ColumnSpec {
  const char16_t* name;
  std::uint8_t type;
  std::uint16_t length;
};

TableDef Define(std::uint32_t page, std::initializer_list<ColumnSpec> specs, std::uint32_t usedMap,
                std::uint32_t freeMap) {
  TableDef def;
  def.page = page;
  def.usedMap = usedMap;
  def.freeMap = freeMap;
  std::uint16_t number = 0, varIndex = 0, fixedOffset = 0;
  for (const ColumnSpec& s : specs) {
    Column c;
    c.type = s.type;
    c.number = number++;
    c.name = s.name;
    c.length = s.length;
    if (s.type == kTypeText || s.type == kTypeLongBinary) {
      c.flags = kColumnNullable;
      c.miscFlags = s.type == kTypeText ? kColumnCompressed : 0;
      c.varIndex = varIndex++;
    } else {
      c.flags = kColumnFixed | kColumnNullable;
      c.fixedOffset = fixedOffset;
      fixedOffset = static_cast<std::uint16_t>(fixedOffset + s.length);
    }
    def.columns.push_back(c);
  }
  def.maxColumns = number;
  return def;
}

std::string TableDefPage(const TableDef& def, std::uint8_t tableType, std::uint32_t rowCount) {
  std::string page = Blank(kPageTableDef);
  std::uint16_t varColumns = 0;
  for (const Column& c : def.columns) varColumns = static_cast<std::uint16_t>(varColumns + !c.fixed());
  PutFixed32(page, kTdefRowCount, rowCount);
  page[kTdefTableType] = static_cast<char>(tableType);
  PutFixed16(page, kTdefMaxColumns, def.maxColumns);
  PutFixed16(page, kTdefVarColumns, varColumns);
  PutFixed16(page, kTdefColumns, static_cast<std::uint16_t>(def.columns.size()));
  PutFixed32(page, kTdefUsedMap, def.usedMap);
  PutFixed32(page, kTdefFreeMap, def.freeMap);
  std::size_t at = kTdefIndexEntries;
  for (const Column& c : def.columns) {
    page[at + kColumnType] = static_cast<char>(c.type);
    PutFixed16(page, at + kColumnNumber, c.number);
    PutFixed16(page, at + kColumnVarIndex, c.varIndex);
    PutFixed16(page, at + kColumnNumber2, c.number);
    if (c.type == kTypeText) PutFixed16(page, at + kColumnSortOrder, kSortGeneral);
    page[at + kColumnFlags] = static_cast<char>(c.flags);
    page[at + kColumnMiscFlags] = static_cast<char>(c.miscFlags);
    PutFixed16(page, at + kColumnFixedOffset, c.fixedOffset);
    PutFixed16(page, at + kColumnLength, c.length);
    at += kColumnEntrySize;
  }
  for (const Column& c : def.columns) {
    std::string name = EncodeText(c.name, false);
    PutFixed16(page, at, static_cast<std::uint16_t>(name.size()));
    page.replace(at + 2, name.size(), name);
    at += 2 + name.size();
  }
  PutFixed16(page, at, 0xFFFF);  // no per-column usage maps follow
  at += 2;
  PutFixed32(page, kTdefLength, static_cast<std::uint32_t>(at - 8));
  PutFixed16(page, kTdefFreeSpace, static_cast<std::uint16_t>(kPageSize - at - 8));
  return page;
}

std::string U32Bytes(std::uint32_t v) {
  std::string s(4, '\0');
  PutFixed32(s, 0, v);
  return s;
}

std::string U16Bytes(std::uint16_t v) {
  std::string s(2, '\0');
  PutFixed16(s, 0, v);
  return s;
}

std::string DateBytes(double oleDate) {
  std::string s(8, '\0');
  EncodeDouble(s.data(), oleDate);
  return s;
}

}  // namespace

std::string CardDatabaseImage() {
  // Days since 30 December 1899, the stored form of a date.
  double now = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;

  TableDef catalog = Define(kCatalogPage,
                            {{u"Id", kTypeLong, 4},
                             {u"ParentId", kTypeLong, 4},
                             {u"Name", kTypeText, kMaxTextBytes},
                             {u"Type", kTypeInt, 2},
                             {u"DateCreate", kTypeDateTime, 8},
                             {u"DateUpdate", kTypeDateTime, 8},
                             {u"Flags", kTypeLong, 4},
                             {u"LvProp", kTypeLongBinary, 0}},
                            Pointer(kMapRowsPage, 1), Pointer(kMapRowsPage, 2));
  TableDef cards = Define(kCardTablePage,
                          {{u"dingdan", kTypeText, kMaxTextBytes},
                           {u"kahao", kTypeText, kMaxTextBytes},
                           {u"mima", kTypeText, kMaxTextBytes}},
                          Pointer(kMapRowsPage, 3), Pointer(kMapRowsPage, 4));

  auto entry = [&](std::uint32_t id, std::uint32_t parent, const char16_t* name, std::uint16_t type,
                   std::uint32_t flags) {
    std::vector<CellBytes> cells = {U32Bytes(id),   U32Bytes(parent), EncodeText(name, true), U16Bytes(type),
                                    DateBytes(now), DateBytes(now),   U32Bytes(flags),        std::nullopt};
    return EncodeRow(catalog, cells);
  };
  std::vector<std::string> catalogRows = {
      entry(kTablesContainerId, kRootId, u"Tables", kObjectContainer, 0),
      entry(kCatalogPage, kTablesContainerId, u"MSysObjects", kObjectTable, kSystemObjectFlags),
      entry(kCardTablePage, kTablesContainerId, u"biao", kObjectTable, 0),
  };

  std::vector<std::string> pages(kPageCount);
  pages[0] = DatabasePage();
  pages[kMapRowsPage] =
      DataPage(0, {InlineMap({}), InlineMap({kCatalogDataPage}), InlineMap({kCatalogDataPage}),
                   PagedMap(kCardUsedMapPage), PagedMap(kCardFreeMapPage)});
  pages[kCatalogPage] = TableDefPage(catalog, kTableSystem, static_cast<std::uint32_t>(catalogRows.size()));
  pages[kCatalogDataPage] = DataPage(kCatalogPage, catalogRows);
  pages[kCardTablePage] = TableDefPage(cards, kTableUser, 0);
  pages[kCardDataPage] = DataPage(kCardTablePage, {});
  pages[kCardUsedMapPage] = MapPage({kCardDataPage});
  pages[kCardFreeMapPage] = MapPage({kCardDataPage});
  std::string image;
  for (const std::string& p : pages) image += p;
  return image;
}

}  // namespace jet4

}  // namespace autodeliver
