// A Jet4 database file seen page by page: reading its catalog, table
// definitions, usage maps and rows, and appending a row to a table. The
// pages come either from a byte string holding the whole file, or from a
// page reader that loads each page on first use, so that an append to a
// large file reads only the handful of pages it needs. Changes stay in
// memory; the image records which pages it changed or added, and the file
// functions of jet4_file.h write those pages back (jet4_journal.h).
//
// Every read is bounds-checked: a damaged file makes the operation fail
// (Jet4Damage inside this folder, false at the public functions), never
// read outside the file nor across the end of a page.
//
// Thread safety: an image is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace autodeliver::jet4 {

// Thrown inside this folder when the image is damaged or not a Jet4 file;
// caught at the public functions.
struct Jet4Damage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Column {
  std::uint8_t type = 0;
  std::uint16_t number = 0;    // position in the null mask
  std::uint16_t varIndex = 0;  // position in the variable-value table
  std::uint8_t flags = 0;
  std::uint8_t miscFlags = 0;
  std::uint16_t fixedOffset = 0;
  std::uint16_t length = 0;
  std::u16string name;

  bool fixed() const;
};

struct TableDef {
  std::uint32_t page = 0;
  std::uint32_t rowCount = 0;
  std::uint16_t maxColumns = 0;
  std::uint32_t logicalIndexes = 0;
  std::uint32_t physicalIndexes = 0;
  std::uint32_t usedMap = 0;  // data pointers of the two usage-map rows
  std::uint32_t freeMap = 0;
  std::vector<Column> columns;
};

// One column value of a row to append: absent = null, else the stored bytes.
using CellBytes = std::optional<std::string>;

// Text to and from the stored form of a text value. GbkToUtf16 returns
// nullopt when `gbk` is not valid GBK.
std::optional<std::u16string> GbkToUtf16(const std::string& gbk);
std::string EncodeText(const std::u16string& text, bool mayCompress);
std::u16string DecodeText(const std::string& stored);
// ASCII letters compare equal regardless of case.
bool SameName(const std::u16string& a, const std::u16string& b);

// The row bytes for `cells` (one per column of `def`, same order).
std::string EncodeRow(const TableDef& def, const std::vector<CellBytes>& cells);

// Masks or unmasks (the same operation) the block of the database page.
void MaskHeaderBlock(std::string& page0);

class Image {
 public:
  // Fills `out` (kPageSize bytes) with page `page`; false on a read error.
  using PageReader = std::function<bool(std::uint32_t page, char* out)>;

  // Takes the file's bytes; throws Jet4Damage unless they look like an
  // unmasked Jet4 database.
  explicit Image(const std::string& bytes);
  // A file of `fileSize` bytes whose pages `read` loads on first use; throws
  // Jet4Damage as above, and when a page cannot be read.
  Image(std::uint64_t fileSize, PageReader read);

  // The whole file as it stands with the changes (loads every page).
  std::string bytes() const;
  std::uint32_t pageCount() const { return pageCount_; }
  // The number of pages before any change: pages from here on were added.
  std::uint32_t originalPageCount() const { return originalPageCount_; }
  // Page `page` as it stands, and as it was before the first change to it
  // (only for pages that existed and were changed).
  const std::string& Page(std::uint32_t page) const;
  const std::string& OriginalPage(std::uint32_t page) const;
  // Pages changed or added, in the order in which writing them to the file
  // keeps every prefix a file that readers read with all earlier rows: pages
  // added at the end, the table's data pages, the usage maps and other
  // pages, and the table's definition (its row count) last.
  std::vector<std::uint32_t> ChangedPagesInWriteOrder(const TableDef& def) const;

  // The definition page of the user or system table `name`, if the catalog
  // lists it.
  std::optional<std::uint32_t> FindTable(const std::u16string& name) const;
  TableDef ReadTableDef(std::uint32_t page) const;

  // Pages marked in the usage map whose row `mapPointer` points to, ascending.
  std::vector<std::uint32_t> MapPages(std::uint32_t mapPointer) const;

  // The values of every live row of `def`, in page and row order; a cell is
  // the stored bytes of the column or nullopt for null.
  std::vector<std::vector<CellBytes>> ReadRows(const TableDef& def) const;

  // Appends the row to the table's last data page, or to a new page at the
  // end of the file, and keeps the row count and the usage maps right.
  void AppendRow(const TableDef& def, const std::string& row);

 private:
  std::size_t PageStart(std::uint32_t page) const;
  // `size` bytes at file offset `at`, which must lie inside one page.
  const char* Read(std::size_t at, std::size_t size) const;
  char* Write(std::size_t at, std::size_t size);
  std::string Bytes(std::size_t at, std::size_t size) const { return std::string(Read(at, size), size); }
  void Put16(std::size_t at, std::uint16_t v);
  void Put32(std::size_t at, std::uint32_t v);
  std::uint8_t U8(std::size_t at) const;
  std::uint16_t U16(std::size_t at) const;
  std::uint32_t U32(std::size_t at) const;
  // Byte range [begin, end) of row `row` on `page`, following a moved row.
  std::pair<std::size_t, std::size_t> RowRange(std::uint32_t page, unsigned row) const;
  std::pair<std::size_t, std::size_t> PointerRange(std::uint32_t pointer) const;
  std::string TableDefBytes(std::uint32_t page) const;
  std::uint32_t AddPage(const std::string& page);
  void SetMapBit(std::uint32_t mapPointer, std::uint32_t page, bool on);
  std::size_t MinRowSize(const TableDef& def) const;
  void CheckHeader() const;

  PageReader read_;
  std::uint32_t pageCount_ = 0;
  std::uint32_t originalPageCount_ = 0;
  mutable std::map<std::uint32_t, std::string> pages_;  // loaded or added
  std::set<std::uint32_t> changed_;
  std::map<std::uint32_t, std::string> originals_;  // changed pages as loaded
};

}  // namespace autodeliver::jet4
