// A Jet4 database file seen page by page; see jet4_image.h and the layout in
// jet4_format.h.
#include "export/jet4/jet4_image.h"

#include <algorithm>
#include <array>

#include "export/jet4/jet4_format.h"
#include "io/coding.h"
#include "text/gbk.h"

namespace autodeliver::jet4 {

namespace {

[[noreturn]] void Damaged(const char* what) { throw Jet4Damage(what); }

std::uint16_t ReadU16(const std::string& buf, std::size_t at) {
  if (at + 2 > buf.size()) Damaged("read past the end");
  return DecodeFixed16(buf.data() + at);
}

std::uint32_t ReadU32(const std::string& buf, std::size_t at) {
  if (at + 4 > buf.size()) Damaged("read past the end");
  return DecodeFixed32(buf.data() + at);
}

// Decodes UTF-8 (already checked by the GBK conversion) into UTF-16.
std::u16string Utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp;
    std::size_t n;
    if (b < 0x80) {
      cp = b, n = 1;
    } else if (b >> 5 == 0x6) {
      cp = b & 0x1F, n = 2;
    } else if (b >> 4 == 0xE) {
      cp = b & 0x0F, n = 3;
    } else {
      cp = b & 0x07, n = 4;
    }
    for (std::size_t k = 1; k < n && i + k < utf8.size(); ++k) {
      cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace

bool Column::fixed() const { return (flags & kColumnFixed) != 0; }

std::optional<std::u16string> GbkToUtf16(const std::string& gbk) {
  std::optional<std::string> utf8 = GbkToUtf8(gbk);
  if (!utf8) return std::nullopt;
  return Utf8ToUtf16(*utf8);
}

std::string EncodeText(const std::u16string& text, bool mayCompress) {
  // The one-byte form costs two marker bytes, so it only pays from three
  // characters on, and it cannot hold a character above 0xFF or a 0x00
  // (which would switch modes).
  bool oneByte = mayCompress && text.size() >= 3 &&
                 std::all_of(text.begin(), text.end(), [](char16_t c) { return c != 0 && c <= 0xFF; });
  std::string out;
  if (oneByte) {
    out = "\xFF\xFE";
    for (char16_t c : text) out.push_back(static_cast<char>(c));
    return out;
  }
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string DecodeText(const std::string& stored) {
  std::u16string out;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(stored[i]); };
  if (stored.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    bool oneByte = true;
    for (std::size_t i = 2; i < stored.size();) {
      if (byte(i) == 0) {
        oneByte = !oneByte;
        ++i;
      } else if (oneByte) {
        out.push_back(byte(i++));
      } else if (i + 1 < stored.size()) {
        out.push_back(static_cast<char16_t>(byte(i) | byte(i + 1) << 8));
        i += 2;
      } else {
        break;
      }
    }
    return out;
  }
  for (std::size_t i = 0; i + 1 < stored.size(); i += 2) {
    out.push_back(static_cast<char16_t>(byte(i) | byte(i + 1) << 8));
  }
  return out;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string EncodeRow(const TableDef& def, const std::vector<CellBytes>& cells) {
  std::size_t columnCount = def.maxColumns;
  std::size_t fixedSize = 0;
  int varCount = 0;
  for (const Column& c : def.columns) {
    columnCount = std::max<std::size_t>(columnCount, c.number + 1u);
    if (c.fixed()) {
      fixedSize = std::max<std::size_t>(fixedSize, c.fixedOffset + c.length);
    } else {
      varCount = std::max(varCount, c.varIndex + 1);
    }
  }
  std::string row(2 + fixedSize, '\0');
  PutFixed16(row, 0, static_cast<std::uint16_t>(columnCount));
  std::string nullMask((columnCount + 7) / 8, '\0');
  auto markPresent = [&](const Column& c) {
    nullMask[c.number / 8] |= static_cast<char>(1 << (c.number % 8));
  };

  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    if (c.fixed() && cells[i]) {
      if (cells[i]->size() != c.length) Damaged("fixed value of the wrong size");
      row.replace(2 + c.fixedOffset, c.length, *cells[i]);
      markPresent(c);
    }
  }
  std::vector<std::uint16_t> starts(varCount, 0);
  for (int k = 0; k < varCount; ++k) {
    starts[k] = static_cast<std::uint16_t>(row.size());
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
      const Column& c = def.columns[i];
      if (!c.fixed() && c.varIndex == k && cells[i]) {
        row += *cells[i];
        markPresent(c);
      }
    }
  }
  if (varCount > 0) {
    std::string tail(2 * (varCount + 2), '\0');
    PutFixed16(tail, 0, static_cast<std::uint16_t>(row.size()));  // end of data
    for (int k = 0; k < varCount; ++k) PutFixed16(tail, 2 + 2 * (varCount - 1 - k), starts[k]);
    PutFixed16(tail, 2 + 2 * varCount, static_cast<std::uint16_t>(varCount));
    row += tail;
  }
  return row + nullMask;
}

void MaskHeaderBlock(std::string& page0) {
  // RC4 keystream of the fixed key, XORed over the block.
  std::array<unsigned char, 256> s;
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + kHeaderKey[i % 4]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (std::size_t n = 0, i = 0, j = 0; n < kMaskedLength; ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    page0[kMaskedStart + n] ^= static_cast<char>(s[(s[i] + s[j]) & 0xFF]);
  }
}

Image::Image(const std::string& bytes)
    : Image(bytes.size(), [&bytes](std::uint32_t page, char* out) {
        bytes.copy(out, kPageSize, static_cast<std::size_t>(page) * kPageSize);
        return true;
      }) {
  // Load every page now: the reader refers to `bytes`, which may not outlive
  // the image.
  for (std::uint32_t page = 0; page < pageCount_; ++page) Page(page);
  read_ = nullptr;
}

Image::Image(std::uint64_t fileSize, PageReader read) : read_(std::move(read)) {
  if (fileSize < 3 * kPageSize || fileSize % kPageSize != 0 || fileSize / kPageSize > 0xFFFFFF) {
    Damaged("not a Jet4 file size");
  }
  pageCount_ = originalPageCount_ = static_cast<std::uint32_t>(fileSize / kPageSize);
  CheckHeader();
}

void Image::CheckHeader() const {
  if (U8(0) != kPageDatabase || U32(kVersionOffset) != kVersionJet4) Damaged("not a Jet4 file");
  std::string page0 = Page(0);
  MaskHeaderBlock(page0);
  if (ReadU32(page0, kDatabaseKeyOffset) != 0) Damaged("encrypted database");
}

std::string Image::bytes() const {
  std::string out;
  out.reserve(static_cast<std::size_t>(pageCount_) * kPageSize);
  for (std::uint32_t page = 0; page < pageCount_; ++page) out += Page(page);
  return out;
}

const std::string& Image::Page(std::uint32_t page) const {
  if (page >= pageCount_) Damaged("page number past the end");
  auto it = pages_.find(page);
  if (it != pages_.end()) return it->second;
  std::string bytes(kPageSize, '\0');
  if (!read_ || !read_(page, bytes.data())) Damaged("page cannot be read");
  return pages_.emplace(page, std::move(bytes)).first->second;
}

std::vector<std::uint32_t> Image::ChangedPagesInWriteOrder(const TableDef& def) const {
  // Definition pages of the table: the first and its continuations.
  std::set<std::uint32_t> definition;
  for (std::uint32_t page = def.page; page != 0 && page < pageCount_ && definition.insert(page).second;) {
    page = U32(PageStart(page) + kTdefNextPage);
  }
  auto rank = [&](std::uint32_t page) {
    if (page >= originalPageCount_) return 0;
    if (definition.count(page)) return 3;
    const std::string& bytes = Page(page);
    if (static_cast<std::uint8_t>(bytes[0]) == kPageData &&
        DecodeFixed32(bytes.data() + kDataTableDef) == def.page)
      return 1;
    return 2;
  };
  std::vector<std::uint32_t> order(changed_.begin(), changed_.end());
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return rank(a) < rank(b); });
  return order;
}

std::size_t Image::PageStart(std::uint32_t page) const {
  if (page >= pageCount()) Damaged("page number past the end");
  return static_cast<std::size_t>(page) * kPageSize;
}

const char* Image::Read(std::size_t at, std::size_t size) const {
  static const char kNothing = 0;
  if (size == 0) return &kNothing;
  std::size_t within = at % kPageSize;
  if (size > kPageSize - within) Damaged("read across the end of a page");
  return Page(static_cast<std::uint32_t>(std::min<std::size_t>(at / kPageSize, 0xFFFFFFFF))).data() + within;
}

char* Image::Write(std::size_t at, std::size_t size) {
  const char* p = Read(at, size);
  auto page = static_cast<std::uint32_t>(at / kPageSize);
  if (changed_.insert(page).second && page < originalPageCount_) originals_[page] = Page(page);
  return const_cast<char*>(p);
}

const std::string& Image::OriginalPage(std::uint32_t page) const {
  auto it = originals_.find(page);
  if (it == originals_.end()) Damaged("no original of an unchanged or added page");
  return it->second;
}

void Image::Put16(std::size_t at, std::uint16_t v) { EncodeFixed16(Write(at, 2), v); }
void Image::Put32(std::size_t at, std::uint32_t v) { EncodeFixed32(Write(at, 4), v); }

std::uint8_t Image::U8(std::size_t at) const { return static_cast<std::uint8_t>(*Read(at, 1)); }
std::uint16_t Image::U16(std::size_t at) const { return DecodeFixed16(Read(at, 2)); }
std::uint32_t Image::U32(std::size_t at) const { return DecodeFixed32(Read(at, 4)); }

std::pair<std::size_t, std::size_t> Image::RowRange(std::uint32_t page, unsigned row) const {
  for (int hop = 0; hop < 2; ++hop) {
    std::size_t base = PageStart(page);
    if (U8(base) != kPageData) Damaged("row on a page that is not a data page");
    unsigned rows = U16(base + kDataRowCount);
    if (row >= rows) Damaged("row number past the page's rows");
    std::uint16_t raw = U16(base + kDataRowOffsets + 2 * row);
    std::size_t begin = raw & kRowOffsetMask;
    std::size_t end = row == 0 ? kPageSize : (U16(base + kDataRowOffsets + 2 * (row - 1)) & kRowOffsetMask);
    if (begin < kDataRowOffsets + 2 * rows || begin > end || end > kPageSize) Damaged("row bounds");
    if (!(raw & kRowMoved) || (raw & kRowDeleted)) return {base + begin, base + end};
    if (end - begin < 4) Damaged("moved row without a pointer");
    std::uint32_t pointer = U32(base + begin);
    page = pointer >> 8;
    row = pointer & 0xFF;
  }
  Damaged("row moved twice");
}

std::pair<std::size_t, std::size_t> Image::PointerRange(std::uint32_t pointer) const {
  return RowRange(pointer >> 8, pointer & 0xFF);
}

std::string Image::TableDefBytes(std::uint32_t page) const {
  std::size_t start = PageStart(page);
  if (U8(start) != kPageTableDef) Damaged("not a table definition page");
  std::string def = Page(page);
  for (std::uint32_t next = U32(start + kTdefNextPage), hops = 0; next != 0; ++hops) {
    if (hops >= pageCount()) Damaged("table definition pages loop");
    std::size_t at = PageStart(next);
    if (U8(at) != kPageTableDef) Damaged("continuation is not a table definition page");
    def += Bytes(at + 8, kPageSize - 8);
    next = U32(at + kTdefNextPage);
  }
  return def;
}

TableDef Image::ReadTableDef(std::uint32_t page) const {
  std::string buf = TableDefBytes(page);
  TableDef def;
  def.page = page;
  def.rowCount = ReadU32(buf, kTdefRowCount);
  def.maxColumns = ReadU16(buf, kTdefMaxColumns);
  std::uint16_t columnCount = ReadU16(buf, kTdefColumns);
  def.logicalIndexes = ReadU32(buf, kTdefLogicalIndexes);
  def.physicalIndexes = ReadU32(buf, kTdefPhysicalIndexes);
  def.usedMap = ReadU32(buf, kTdefUsedMap);
  def.freeMap = ReadU32(buf, kTdefFreeMap);
  if (def.physicalIndexes > buf.size() / kTdefIndexEntrySize) Damaged("index count");
  std::size_t at = kTdefIndexEntries + def.physicalIndexes * kTdefIndexEntrySize;
  for (std::uint16_t i = 0; i < columnCount; ++i, at += kColumnEntrySize) {
    if (at + kColumnEntrySize > buf.size()) Damaged("column entries past the end");
    Column c;
    c.type = static_cast<std::uint8_t>(buf[at + kColumnType]);
    c.number = ReadU16(buf, at + kColumnNumber);
    c.varIndex = ReadU16(buf, at + kColumnVarIndex);
    c.flags = static_cast<std::uint8_t>(buf[at + kColumnFlags]);
    c.miscFlags = static_cast<std::uint8_t>(buf[at + kColumnMiscFlags]);
    c.fixedOffset = ReadU16(buf, at + kColumnFixedOffset);
    c.length = ReadU16(buf, at + kColumnLength);
    def.columns.push_back(c);
  }
  for (Column& c : def.columns) {
    std::uint16_t length = ReadU16(buf, at);
    at += 2;
    if (at + length > buf.size()) Damaged("column name past the end");
    c.name = DecodeText(buf.substr(at, length));
    at += length;
  }
  return def;
}

std::vector<std::uint32_t> Image::MapPages(std::uint32_t mapPointer) const {
  auto [begin, end] = PointerRange(mapPointer);
  if (end - begin < 5) Damaged("usage map too short");
  std::vector<std::uint32_t> pages;
  auto collect = [&](std::size_t from, std::size_t to, std::uint64_t first) {
    const char* bitmap = Read(from, to - from);  // inside one page
    for (std::size_t i = from; i < to; ++i) {
      auto bits = static_cast<std::uint8_t>(bitmap[i - from]);
      for (int b = 0; bits != 0 && b < 8; ++b) {
        if (bits & (1 << b)) {
          std::uint64_t page = first + (i - from) * 8 + b;
          if (page < pageCount()) pages.push_back(static_cast<std::uint32_t>(page));
        }
      }
    }
  };
  std::uint8_t type = U8(begin);
  if (type == kMapInline) {
    collect(begin + 5, end, U32(begin + 1));
  } else if (type == kMapPaged) {
    for (std::size_t i = 0; begin + 1 + 4 * i + 4 <= end; ++i) {
      std::uint32_t mapPage = U32(begin + 1 + 4 * i);
      if (mapPage == 0) continue;
      std::size_t at = PageStart(mapPage);
      if (U8(at) != kPageUsageMap) Damaged("usage map page of the wrong kind");
      collect(at + kMapPageBitmap, at + kPageSize, static_cast<std::uint64_t>(i) * kPagesPerMapPage);
    }
  } else {
    Damaged("unknown usage map type");
  }
  return pages;
}

std::vector<std::vector<CellBytes>> Image::ReadRows(const TableDef& def) const {
  bool anyVar =
      std::any_of(def.columns.begin(), def.columns.end(), [](const Column& c) { return !c.fixed(); });
  std::vector<std::vector<CellBytes>> rows;
  for (std::uint32_t page : MapPages(def.usedMap)) {
    std::size_t base = PageStart(page);
    if (U8(base) != kPageData || U32(base + kDataTableDef) != def.page) continue;
    unsigned count = U16(base + kDataRowCount);
    for (unsigned r = 0; r < count; ++r) {
      if (U16(base + kDataRowOffsets + 2 * r) & kRowDeleted) continue;
      auto [begin, end] = RowRange(page, r);
      if (end - begin < 2) Damaged("row too short");
      std::size_t columnCount = U16(begin);
      std::size_t maskAt = end - (columnCount + 7) / 8;
      if (maskAt < begin + 2) Damaged("row too short for its null mask");
      std::size_t varCount = 0;
      if (anyVar) {
        varCount = U16(maskAt - 2);
        if (maskAt < begin + 2 + 2 * (varCount + 2)) Damaged("row too short for its offsets");
      }
      std::vector<CellBytes> cells;
      for (const Column& c : def.columns) {
        bool present = c.number < columnCount && (U8(maskAt + c.number / 8) >> (c.number % 8) & 1);
        if (!present) {
          cells.emplace_back();
        } else if (c.fixed()) {
          std::size_t at = begin + 2 + c.fixedOffset;
          if (at + c.length > maskAt) Damaged("fixed value past the row");
          cells.emplace_back(Bytes(at, c.length));
        } else if (c.varIndex >= varCount) {
          cells.emplace_back();
        } else {
          std::size_t from = U16(maskAt - 4 - 2 * c.varIndex);
          std::size_t to = U16(maskAt - 4 - 2 * (c.varIndex + 1u));
          if (from > to || begin + to > maskAt) Damaged("variable value past the row");
          cells.emplace_back(Bytes(begin + from, to - from));
        }
      }
      rows.push_back(std::move(cells));
    }
  }
  return rows;
}

std::optional<std::uint32_t> Image::FindTable(const std::u16string& name) const {
  TableDef catalog = ReadTableDef(kCatalogPage);
  int idColumn = -1, nameColumn = -1, typeColumn = -1;
  for (std::size_t i = 0; i < catalog.columns.size(); ++i) {
    const Column& c = catalog.columns[i];
    if (SameName(c.name, u"Id") && c.type == kTypeLong) idColumn = static_cast<int>(i);
    if (SameName(c.name, u"Name") && c.type == kTypeText) nameColumn = static_cast<int>(i);
    if (SameName(c.name, u"Type") && c.type == kTypeInt) typeColumn = static_cast<int>(i);
  }
  if (idColumn < 0 || nameColumn < 0 || typeColumn < 0) Damaged("catalog without Id, Name or Type");
  for (const std::vector<CellBytes>& row : ReadRows(catalog)) {
    if (!row[idColumn] || !row[nameColumn] || !row[typeColumn]) continue;
    if (ReadU16(*row[typeColumn], 0) != kObjectTable) continue;
    if (SameName(DecodeText(*row[nameColumn]), name)) return ReadU32(*row[idColumn], 0) & kObjectIdMask;
  }
  return std::nullopt;
}

std::uint32_t Image::AddPage(const std::string& page) {
  std::uint32_t number = pageCount_;
  if (number >= 0xFFFFFF) Damaged("file too large");
  std::string bytes = page;
  bytes.resize(kPageSize, '\0');
  pages_[number] = std::move(bytes);
  changed_.insert(number);
  ++pageCount_;
  return number;
}

void Image::SetMapBit(std::uint32_t mapPointer, std::uint32_t page, bool on) {
  auto [begin, end] = PointerRange(mapPointer);
  if (end - begin < 5) Damaged("usage map too short");
  auto flip = [&](std::size_t byteAt, unsigned bit) {
    char* p = Write(byteAt, 1);
    *p = static_cast<char>(on ? *p | (1 << bit) : *p & ~(1 << bit));
  };
  if (U8(begin) == kMapInline) {
    std::uint32_t first = U32(begin + 1);
    if (page >= first && page - first < (end - begin - 5) * 8) {
      flip(begin + 5 + (page - first) / 8, (page - first) % 8);
      return;
    }
    if (!on) return;
    // The page lies outside the inline map's reach: turn the map into one
    // that points to map pages, carrying its marks over.
    std::vector<std::uint32_t> marked = MapPages(mapPointer);
    char* map = Write(begin, end - begin);
    std::fill(map, map + (end - begin), '\0');
    map[0] = static_cast<char>(kMapPaged);
    for (std::uint32_t p : marked) SetMapBit(mapPointer, p, true);
    SetMapBit(mapPointer, page, true);
    return;
  }
  if (U8(begin) != kMapPaged) Damaged("unknown usage map type");
  std::size_t slot = page / kPagesPerMapPage;
  if (begin + 1 + 4 * slot + 4 > end) Damaged("file larger than the usage map can reach");
  std::uint32_t mapPage = U32(begin + 1 + 4 * slot);
  if (mapPage == 0) {
    if (!on) return;
    std::string fresh(kPageSize, '\0');
    fresh[0] = static_cast<char>(kPageUsageMap);
    fresh[1] = 0x01;
    mapPage = AddPage(fresh);
    Put32(begin + 1 + 4 * slot, mapPage);
  }
  std::size_t at = PageStart(mapPage);
  if (U8(at) != kPageUsageMap) Damaged("usage map page of the wrong kind");
  std::size_t index = page % kPagesPerMapPage;
  flip(at + kMapPageBitmap + index / 8, index % 8);
}

std::size_t Image::MinRowSize(const TableDef& def) const {
  return EncodeRow(def, std::vector<CellBytes>(def.columns.size())).size() + 2;
}

void Image::AppendRow(const TableDef& def, const std::string& row) {
  if (row.size() + 2 > kPageSize - kDataRowOffsets) Damaged("row larger than a page");
  // Where the next row would go on `page`, or 0 when it does not fit.
  auto placeOn = [&](std::uint32_t page) -> std::size_t {
    std::size_t base = PageStart(page);
    unsigned rows = U16(base + kDataRowCount);
    if (rows >= kMaxRowsPerPage) return 0;
    std::size_t lowest = kPageSize;
    for (unsigned r = 0; r < rows; ++r) {
      lowest = std::min<std::size_t>(lowest, U16(base + kDataRowOffsets + 2 * r) & kRowOffsetMask);
    }
    std::size_t headerEnd = kDataRowOffsets + 2 * (rows + 1);
    if (lowest < headerEnd || lowest - headerEnd < row.size()) return 0;
    return lowest - row.size();
  };

  std::uint32_t target = 0;
  std::size_t offset = 0;
  std::vector<std::uint32_t> pages = MapPages(def.usedMap);
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
    std::size_t base = PageStart(*it);
    if (U8(base) == kPageData && U32(base + kDataTableDef) == def.page) {
      // Only the last data page: rows stay in the order they were added.
      offset = placeOn(*it);
      if (offset != 0) target = *it;
      break;
    }
  }
  if (offset == 0) {
    std::string fresh(kPageSize, '\0');
    fresh[0] = static_cast<char>(kPageData);
    fresh[1] = 0x01;
    PutFixed16(fresh, kDataFreeSpace, static_cast<std::uint16_t>(kPageSize - kDataRowOffsets));
    PutFixed32(fresh, kDataTableDef, def.page);
    target = AddPage(fresh);
    SetMapBit(def.usedMap, target, true);
    SetMapBit(def.freeMap, target, true);
    offset = placeOn(target);
  }

  std::size_t base = PageStart(target);
  unsigned rows = U16(base + kDataRowCount);
  row.copy(Write(base + offset, row.size()), row.size());
  Put16(base + kDataRowOffsets + 2 * rows, static_cast<std::uint16_t>(offset));
  Put16(base + kDataRowCount, static_cast<std::uint16_t>(rows + 1));
  std::size_t free = offset - (kDataRowOffsets + 2 * (rows + 1));
  Put16(base + kDataFreeSpace, static_cast<std::uint16_t>(free));
  if (free < MinRowSize(def) || rows + 1 >= kMaxRowsPerPage) SetMapBit(def.freeMap, target, false);

  std::size_t tdef = PageStart(def.page);
  Put32(tdef + kTdefRowCount, U32(tdef + kTdefRowCount) + 1);
}

}  // namespace autodeliver::jet4
