// Fuzz target: a record table and its companion file as they may be found on
// disk, damaged or foreign. Input: a 4-byte little-endian length n, then n
// bytes of the table file (fewer when the input is shorter), then the bytes
// of the companion file.
//
// The table is opened, every record read field by field, a record appended,
// one modified, one marked and the table purged, through RecordTable's
// public interface; then the same bytes serve as the card-stock table of a
// program directory and cards are loaded, taken, appended, marked and
// purged through the store operations.
#include <chrono>
#include <filesystem>

#include "fuzz_targets.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver::fuzz {
namespace {

// Records read per table: enough for every corpus file, bounded for files
// whose header claims millions.
constexpr std::int32_t kReadRecords = 512;

void LayOut(const std::string& tablePath, std::string_view table, std::string_view companion) {
  std::error_code ignored;
  std::filesystem::remove(tablePath + ".purge", ignored);
  WriteFile(tablePath, table);
  WriteFile(CompanionFilePath(tablePath), companion);
}

void ExerciseTable(const std::string& path) {
  RecordTable t;
  t.SetLockWait(std::chrono::milliseconds(0));
  if (!t.Open(path)) return;
  const std::int32_t count = t.RecordCount();
  Require(count >= 0, "record count of an open table is not negative");
  const std::size_t fields = t.Fields().size();
  for (std::int32_t r = 1; r <= std::min(count, kReadRecords); ++r) {
    if (!t.GoTo(r)) break;
    Require(t.RecordNumber() == r, "GoTo reaches the record asked for");
    t.RecordId();
    t.IsMarked();
    for (std::size_t f = 0; f < fields; ++f) {
      t.ReadValue(static_cast<int>(f));
      t.ReadTextAt(static_cast<int>(f));
    }
  }
  FieldValues values;
  for (std::size_t f = 0; f < fields; ++f) values.push_back(f % 2 ? "12" : "卡号 card 0123456789");
  if (t.Append(values)) Require(t.RecordCount() == count + 1, "an append adds one record");
  if (t.GoTo(1)) {
    FieldValues changed(fields, std::string("x"));
    t.Modify(changed);
    t.MarkDeleted();
  }
  t.MarkDeletedWhere([](RecordTable& table) { return table.RecordNumber() % 3 == 0; });
  if (t.Purge()) {
    // What remains is live and readable.
    for (std::int32_t r = 1; r <= std::min(t.RecordCount(), kReadRecords); ++r) {
      if (!t.GoTo(r)) break;
      Require(!t.IsMarked(), "no marked record survives a purge");
    }
  }
  t.Close();
}

// The store operations on the card stock, for the item of its first card.
void ExerciseStock(ShopContext& shop) {
  std::string name = "x";
  {
    RecordTable t;
    t.SetLockWait(std::chrono::milliseconds(0));
    if (t.Open(shop.StockTablePath()) && t.GoTo(1)) name = t.Read("宝贝名称"_gbk);
  }
  const std::size_t before = LoadStockCardsOf(shop, name).size();
  if (std::optional<StockCard> taken = TakeStockCard(shop, name)) {
    Require(taken->itemName == name, "a taken card belongs to the item asked for");
    Require(LoadStockCardsOf(shop, name).size() + 1 == before, "a take removes exactly one card");
  }
  AppendStockCard(shop, {name, "N1", "P1", 0});
  MarkStockCardAt(shop, 1);
  PurgeStock(shop);
  LoadStockCardsOf(shop, name);
}

}  // namespace

int FuzzTableFile(const std::uint8_t* data, std::size_t size) {
  std::uint32_t tableLength = 0;
  for (std::size_t i = 0; i < 4 && i < size; ++i) tableLength |= std::uint32_t{data[i]} << (8 * i);
  const std::string_view rest(reinterpret_cast<const char*>(data) + std::min<std::size_t>(size, 4),
                              size - std::min<std::size_t>(size, 4));
  const std::string_view table = rest.substr(0, std::min<std::size_t>(tableLength, rest.size()));
  const std::string_view companion = rest.substr(table.size());

  const std::string path = ScratchDir() + "/table.edb";
  LayOut(path, table, companion);
  ExerciseTable(path);

  // The same bytes as the card stock of a program directory.
  const std::string programDir = ScratchDir() + "/program";
  std::filesystem::create_directories(programDir + "/data");
  ShopContext shop(programDir);
  LayOut(shop.StockTablePath(), table, companion);
  ExerciseStock(shop);
  return 0;
}

}  // namespace autodeliver::fuzz
