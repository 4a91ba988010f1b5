// table_tool: sets up, inspects, exports and restocks a shop's record tables.
//
//   table_tool init DIR         creates DIR/data with the four empty tables
//                               (and the settings row for the IM client path)
//                               and DIR/card.mdb
//   table_tool dump --json FILE prints the table as one JSON document
//   table_tool check FILE       opens the table (cutting partial records and
//                               lowering counts as an open does), reads every
//                               value and holds the companion file's free
//                               list against the blocks in use; exit 0 when
//                               every value reads and the list is sound
//   table_tool import DIR ITEM FILE [--allow-duplicates] [--dry-run]
//                               restocks ITEM from a card file as the window's
//                               file import does, and prints the preview's
//                               counts and reasons and the outcome as JSON
//   table_tool export DIR sent|stock FILE [--item NAME] [--gbk]
//                               writes the sent cards or the stock of DIR's
//                               data folder as CSV, the same bytes as the
//                               window's export (UTF-8 with a byte-order mark,
//                               or GBK); --item keeps one item's cards
//   table_tool migrate FROM DIR [--dry-run] [--merge]
//                               brings an earlier installation's tables and
//                               card.mdb from FROM into DIR (store/old_data.h)
//   table_tool convert DIR [--dry-run]
//                               converts DIR's tables still in the older
//                               layout, keeping the old files in a backup
//   --shop NAME                 in place of DIR: the shop's own folder
//   table_tool --help           (and after each command) what it takes
//
// Texts are shown converted from GBK to UTF-8. Exit status 2 for a usage
// error, 1 when the work failed.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "common/json_text.h"
#include "export/csv_export.h"
#include "export/jet4/jet4_file.h"
#include "import/card_file.h"
#include "import/checked_import.h"
#include "import/import_check.h"
#include "store/instance_lock.h"
#include "store/item_table.h"
#include "store/old_data.h"
#include "store/rows.h"
#include "store/seller_actions.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "tables/record_table.h"
#include "tables/table_format.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

std::string JsonNumber(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string JsonValue(const std::optional<FieldValue>& v, std::int32_t type) {
  if (!v) return "null";  // a value that cannot be read
  if (auto* i = std::get_if<std::int64_t>(&*v)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&*v)) return JsonNumber(*d);
  if (auto* b = std::get_if<bool>(&*v)) return *b ? "true" : "false";
  const std::string& s = std::get<std::string>(*v);
  if (type == table_format::kBytes) return JsonString(Hex(s));
  return JsonString(GbkToUtf8Lossy(s));
}

int Init(const std::string& dir) {
  std::string card = dir + "/card.mdb";
  struct stat st {};
  if (::stat(card.c_str(), &st) == 0) {
    std::cerr << "table_tool: " << card << " exists already\n";
    return 1;
  }
  std::string error;
  if (!CreateDataTables(dir, &error)) {
    std::cerr << "table_tool: " << error << "\n";
    return 1;
  }
  if (!CreateCardDatabase(card)) {
    std::cerr << "table_tool: cannot create " << card << "\n";
    return 1;
  }
  std::cout << "created " << dir << "/data (4 tables) and " << card << "\n";
  return 0;
}

int Dump(const std::string& file) {
  RecordTable t;
  if (!t.Open(file)) {
    std::cerr << "table_tool: cannot open table " << file << "\n";
    return 1;
  }
  std::ostringstream out;
  const auto& fields = t.Fields();
  out << "{\n  \"version\": " << t.Version() << ",\n  \"recordCount\": " << t.RecordCount()
      << ",\n  \"nextRecordId\": " << t.NextRecordId() << ",\n  \"recordSize\": " << t.RecordSize()
      << ",\n  \"fields\": [";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldInfo& f = fields[i];
    out << (i ? ",\n" : "\n") << "    {\"name\": " << JsonString(GbkToUtf8Lossy(f.name))
        << ", \"type\": " << f.type << ", \"offset\": " << f.offset << ", \"width\": " << f.width << "}";
  }
  out << "\n  ],\n  \"records\": [";
  t.Hold(false);  // one consistent picture of the table
  std::int32_t n = t.RecordCount();
  t.GoTo(1);
  for (std::int32_t r = 0; r < n; ++r, t.Skip()) {
    std::int32_t id = t.RecordId();
    out << (r ? ",\n" : "\n") << "    {\"number\": " << r + 1 << ", \"id\": " << id
        << ", \"deleted\": " << (id <= 0 ? "true" : "false") << ", \"values\": {";
    for (std::size_t i = 0; i < fields.size(); ++i) {
      out << (i ? ", " : "") << JsonString(GbkToUtf8Lossy(fields[i].name)) << ": "
          << JsonValue(t.ReadValue(static_cast<int>(i)), fields[i].type);
    }
    out << "}}";
  }
  t.Release();
  out << (n ? "\n  ]\n}\n" : "]\n}\n");
  std::cout << out.str();
  return 0;
}

struct RawFigures {
  long long size = -1;
  std::int32_t count = 0;
};

RawFigures ReadRaw(const std::string& path, int countOffset) {
  RawFigures f;
  std::ifstream in(path, std::ios::binary);
  if (!in) return f;
  in.seekg(0, std::ios::end);
  f.size = in.tellg();
  char b[4] = {};
  in.seekg(countOffset);
  in.read(b, 4);
  std::memcpy(&f.count, b, 4);
  return f;
}

int Check(const std::string& file) {
  std::string path = TableFilePath(file);
  std::string companion = CompanionFilePath(path);
  RawFigures before = ReadRaw(path, table_format::kRecordCountOffset);
  RawFigures blocksBefore = ReadRaw(companion, table_format::kBlockCountOffset);
  struct stat st {};
  bool journal = ::stat((path + ".purge").c_str(), &st) == 0;
  RecordTable t;
  if (!t.Open(path)) {
    std::cout << path
              << ": cannot be opened (missing, damaged header or field list, damaged companion file, or "
              << "locked)\n";
    return 1;
  }
  std::int32_t count = t.RecordCount();
  std::cout << path << ": version 0x" << std::hex << t.Version() << std::dec << ", " << t.Fields().size()
            << " fields, record size " << t.RecordSize() << ", " << count << " records, next record id "
            << t.NextRecordId() << "\n";
  if (journal) std::cout << "  a purge cut short was found and finished (or dropped when incomplete)\n";
  if (before.count != count)
    std::cout << "  record count lowered from " << before.count << " to the " << count
              << " whole records present\n";
  t.Hold(false);
  int marked = 0, unreadable = 0;
  bool blocks = false;
  for (const auto& f : t.Fields())
    blocks = blocks || f.type == table_format::kBytes || f.type == table_format::kLongText;
  t.GoTo(1);
  for (std::int32_t r = 0; r < count; ++r, t.Skip()) {
    if (t.RecordId() <= 0) ++marked;
    for (std::size_t i = 0; i < t.Fields().size(); ++i) {
      if (!t.ReadValue(static_cast<int>(i))) {
        ++unreadable;
        std::cout << "  record " << r + 1 << ", field " << GbkToUtf8Lossy(t.Fields()[i].name)
                  << ": value cannot be read (damaged block chain)\n";
      }
    }
  }
  int damage = 0;
  if (blocks) {
    std::optional<BlockReport> report = t.CheckBlocks();
    if (!report) {
      ++damage;
      std::cout << "  companion file: the blocks in use cannot be read\n";
    } else {
      std::cout << "  companion file: " << report->blocks << " blocks, " << report->used << " in use, "
                << report->free << " free, " << report->leaked << " neither\n";
      for (const std::string& p : report->problems) std::cout << "  free list damaged: " << p << "\n";
      if (!report->problems.empty())
        std::cout << "  the next write that needs a free block rebuilds the list from the blocks in use\n";
      damage += static_cast<int>(report->problems.size());
    }
  }
  t.Release();
  t.Close();
  RawFigures after = ReadRaw(path, table_format::kRecordCountOffset);
  if (after.size != before.size)
    std::cout << "  file cut from " << before.size << " to " << after.size
              << " bytes (partial record or trailing bytes)\n";
  if (blocks) {
    RawFigures blocksAfter = ReadRaw(companion, table_format::kBlockCountOffset);
    if (blocksAfter.count != blocksBefore.count)
      std::cout << "  companion block count lowered from " << blocksBefore.count << " to "
                << blocksAfter.count << "\n";
  }
  std::cout << "  " << marked << " records marked deleted, " << unreadable << " values unreadable\n";
  return unreadable == 0 && damage == 0 ? 0 : 1;
}

const char* EncodingName(CardFileEncoding encoding) {
  switch (encoding) {
    case CardFileEncoding::kUtf8:
      return "utf-8";
    case CardFileEncoding::kUtf8WithBom:
      return "utf-8-bom";
    case CardFileEncoding::kUtf16:
      return "utf-16";
    case CardFileEncoding::kGbk:
      return "gbk";
  }
  return "";
}

struct ImportOptions {
  std::string dir, item, file;
  bool allowDuplicates = false;
  bool dryRun = false;
};

// The window's file import without the window: the same reading of the
// file, the same check against the item's stock and the sent cards, the
// same batched append under the table locks, and the lines not imported
// kept beside the file. The program may run on the same folder: the table
// locks keep the two apart (the folder's instance lock is for copies of the
// program, not for this tool).
int Import(const ImportOptions& o) {
  ShopContext shop(o.dir);
  const std::string item = Utf8ToGbkLossy(o.item);
  if (GbkToUtf8Lossy(item) != o.item) {
    std::cerr << "table_tool: the item name has characters that GBK does not have\n";
    return 1;
  }
  std::vector<MonitoredItem> items;
  if (!LoadItems(shop, &items)) {
    std::cerr << "table_tool: cannot read the monitored items in " << shop.DataDir() << "\n";
    return 1;
  }
  if (!ItemExists(shop, item)) {
    std::cerr << "table_tool: \"" << o.item << "\" is not a monitored item in " << shop.DataDir() << "\n";
    return 1;
  }
  const std::optional<CardFile> file = LoadCardFile(o.file);
  if (!file) {
    std::cerr << "table_tool: cannot read " << o.file << "\n";
    return 1;
  }
  // The check and the append run as one step under the store lock that the
  // program's delivery and imports take, so an import running in the window
  // at the same time cannot store the same cards as well. The tool imports
  // cards with an empty password as it always did; the report counts them
  // under their own reason.
  CheckedImport checked;
  if (o.dryRun)
    checked.plan = CheckImport(shop, item, file->lines, o.allowDuplicates, true);
  else
    checked = ImportCheckedCards(shop, item, file->lines, o.allowDuplicates, true);
  const std::optional<ImportPlan>& plan = checked.plan;
  if (!plan) {
    std::cerr << "table_tool: cannot read the card stock or the sent cards in " << shop.DataDir() << "\n";
    return 1;
  }

  const StockImport& result = checked.result;
  if (!result.failure.ok())
    std::cerr << "table_tool: the import stopped: " << result.failure.ToString() << "\n";
  std::optional<std::string> keptFile;
  bool keptFileFailed = false;
  std::vector<std::size_t> notWritten;
  if (!o.dryRun) {
    notWritten = LinesNotWritten(*plan, result.handled, result.refused);
    if (!notWritten.empty()) {
      keptFile = WriteKeptLinesFile(o.file, *file, notWritten);
      keptFileFailed = !keptFile;
    }
  }

  std::ostringstream out;
  out << "{\n  \"item\": " << JsonString(o.item) << ",\n  \"file\": " << JsonString(o.file)
      << ",\n  \"encoding\": \"" << EncodingName(file->encoding) << "\",\n  \"layout\": \""
      << (file->layout == CardFileLayout::kCsv ? "csv" : "lines")
      << "\",\n  \"lines\": " << file->lines.size()
      << ",\n  \"allowDuplicates\": " << (o.allowDuplicates ? "true" : "false")
      << ",\n  \"dryRun\": " << (o.dryRun ? "true" : "false") << ",\n  \"toImport\": " << plan->cards.size()
      << ",\n  \"reasons\": {";
  const LineVerdict reasons[] = {LineVerdict::kInStock, LineVerdict::kSentBefore, LineVerdict::kRepeated,
                                 LineVerdict::kMalformed, LineVerdict::kNoPassword};
  for (std::size_t i = 0; i < std::size(reasons); ++i)
    out << (i ? ", " : "") << JsonString(VerdictTextUtf8(reasons[i])) << ": " << plan->Count(reasons[i]);
  // The lines the preview leaves out, by their number in the file; with
  // duplicates allowed a duplicate is imported and not listed.
  out << "},\n  \"notImported\": [";
  for (std::size_t k = 0; k < plan->keptLines.size(); ++k) {
    const std::size_t line = plan->keptLines[k];
    out << (k ? ",\n" : "\n") << "    {\"line\": " << file->lineNumbers[line]
        << ", \"reason\": " << JsonString(VerdictTextUtf8(plan->verdicts[line])) << "}";
  }
  out << (plan->keptLines.empty() ? "]" : "\n  ]");
  if (!o.dryRun) {
    out << ",\n  \"imported\": " << result.written << ",\n  \"refusedByTable\": [";
    for (std::size_t k = 0; k < result.refused.size(); ++k)
      out << (k ? ", " : "") << file->lineNumbers[plan->importedLines[result.refused[k]]];
    out << "],\n  \"notWritten\": " << notWritten.size()
        << ",\n  \"keptFile\": " << (keptFile ? JsonString(*keptFile) : std::string("null"));
  }
  out << "\n}\n";
  std::cout << out.str();
  if (o.dryRun) return 0;
  if (result.written < plan->cards.size()) {
    std::cerr << "table_tool: " << plan->cards.size() - result.written << " of " << plan->cards.size()
              << " cards could not be written to the stock\n";
    return 1;
  }
  if (keptFileFailed) {
    std::cerr << "table_tool: the lines not imported could not be written beside " << o.file
              << "; keep that file\n";
    return 1;
  }
  return 0;
}

int Export(const std::string& dir, const std::string& what, const std::string& file,
           const std::optional<std::string>& itemUtf8, bool gbk) {
  struct stat st {};
  if (::stat((dir + "/data").c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::cerr << "table_tool: " << dir << "/data is no data folder\n";
    return 1;
  }
  std::optional<std::string> item;
  if (itemUtf8) {
    item = Utf8ToGbk(*itemUtf8);
    if (!item) {
      std::cerr << "table_tool: the item name is not UTF-8 text that GBK can hold\n";
      return 2;
    }
  }
  ShopContext shop(dir);
  const CsvEncoding encoding = gbk ? CsvEncoding::kGbk : CsvEncoding::kUtf8WithBom;
  std::string bytes;
  std::size_t rows = 0;
  if (what == "sent") {
    std::vector<SentCard> cards;
    if (!LoadSentCards(shop, &cards)) {
      std::cerr << "table_tool: cannot read " << shop.SentTablePath() << "\n";
      return 1;
    }
    if (item) std::erase_if(cards, [&](const SentCard& c) { return c.itemName != *item; });
    bytes = SentCardsCsv(cards, nullptr, encoding);
    rows = cards.size();
  } else {
    std::vector<StockCard> cards;
    if (!LoadAllStockCards(shop, &cards)) {
      std::cerr << "table_tool: cannot read " << shop.StockTablePath() << "\n";
      return 1;
    }
    if (item) std::erase_if(cards, [&](const StockCard& c) { return c.itemName != *item; });
    bytes = StockCardsCsv(cards, encoding);
    rows = cards.size();
  }
  if (!WriteExportFile(file, bytes)) {
    std::cerr << "table_tool: cannot write " << file << "\n";
    return 1;
  }
  std::cout << "wrote " << rows << " " << (what == "sent" ? "sent" : "stock") << " card(s) to " << file
            << "\n";
  return 0;
}

const char* NameHow(OldTable::Name how) {
  switch (how) {
    case OldTable::Name::kUtf8:
      return "name in UTF-8";
    case OldTable::Name::kGbk:
      return "name in GBK bytes";
    case OldTable::Name::kByFields:
      return "name unreadable, recognised by its fields";
  }
  return "";
}

// Prints what a migration or conversion found and did; the exit status.
int PrintOldData(const OldDataReport& r, bool dryRun) {
  for (const OldTable& t : r.tables) {
    // A name in GBK bytes is shown as it reads in GBK.
    const std::size_t slash = t.source.rfind('/') + 1;
    std::cout << t.file << ": "
              << (t.name == OldTable::Name::kGbk
                      ? t.source.substr(0, slash) + GbkToUtf8Lossy(t.source.substr(slash))
                      : t.source);
    if (t.name != OldTable::Name::kUtf8) std::cout << " (" << NameHow(t.name) << ")";
    std::cout << "\n  " << t.records << " records, " << t.marked << " marked deleted\n";
    for (const std::string& p : t.problems) std::cout << "  damaged: " << p << "\n";
    const char* would = dryRun ? "would be " : "";
    switch (t.outcome) {
      case OldTable::Outcome::kConverted:
        std::cout << "  " << would << "converted into the installed layout (ids, order and marks kept)\n";
        break;
      case OldTable::Outcome::kKept:
        std::cout << "  " << would << "kept in its older layout: record " << t.tooWideRecord << ", field "
                  << t.tooWideField << " holds \"" << t.tooWideValue
                  << "\", longer than the installed layout's fixed field\n";
        break;
      case OldTable::Outcome::kUnchanged:
        std::cout << "  in the installed layout already\n";
        break;
      case OldTable::Outcome::kMerged:
      case OldTable::Outcome::kNone:
        if (t.added || t.skipped)
          std::cout << "  " << t.added << " records " << (dryRun ? "would be " : "") << "added, " << t.skipped
                    << " there already or marked deleted\n";
        break;
    }
  }
  for (const std::string& m : r.missing) std::cout << m << ": not found\n";
  for (const std::string& i : r.ignored) std::cout << "not used: " << i << "\n";
  if (!r.cardDatabase.empty())
    std::cout << "card.mdb: " << r.cardDatabase << " -> " << r.cardDatabaseTarget
              << (dryRun ? " (would be " : " (") << "copied byte for byte)\n";
  if (!r.backup.empty()) std::cout << "the folder's former files are in " << r.backup << "\n";
  switch (r.status) {
    case OldDataReport::Status::kDone:
      std::cout << "done\n";
      return 0;
    case OldDataReport::Status::kDryRun:
      std::cout << "dry run: nothing written\n";
      return 0;
    case OldDataReport::Status::kIncomplete:
      std::cerr << "table_tool: a table was not found; nothing written\n";
      return 1;
    case OldDataReport::Status::kDamaged:
      std::cerr << "table_tool: a table is damaged (see above); nothing written\n";
      return 1;
    case OldDataReport::Status::kTargetHasData:
      std::cerr << "table_tool: the target holds " << r.targetCards << " stock card(s) and " << r.targetSent
                << " sent row(s); nothing written (--merge adds the old records the target lacks)\n";
      return 1;
    case OldDataReport::Status::kTooWideToMerge:
    case OldDataReport::Status::kFailed:
      std::cerr << "table_tool: " << r.problem << "\n";
      return 1;
  }
  return 1;
}

// Keeps the program off `dir` while the tool replaces its tables.
bool LockFolder(const std::string& dir, InstanceLock& lock) {
  if (lock.TryAcquire(dir) == InstanceLock::Result::kHeldElsewhere) {
    std::cerr << "table_tool: the program is running on " << dir << "; close it first\n";
    return false;
  }
  return true;
}

int Migrate(const std::string& from, const std::string& dir, bool dryRun, bool merge) {
  InstanceLock lock;
  struct stat st {};
  if (!dryRun && ::stat(dir.c_str(), &st) == 0 && !LockFolder(dir, lock)) return 1;
  return PrintOldData(MigrateShop(from, dir, {.dryRun = dryRun, .merge = merge}), dryRun);
}

int Convert(const std::string& dir, bool dryRun) {
  InstanceLock lock;
  if (!dryRun && !LockFolder(dir, lock)) return 1;
  return PrintOldData(ConvertShop(dir, dryRun), dryRun);
}

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  using namespace autodeliver;
  CLI::App app{
      "Sets up, inspects, exports and restocks a shop's record tables. Texts are shown converted from GBK "
      "to UTF-8.\n"
      "Exit status: 0 done, 1 the work failed, 2 a usage error.",
      "table_tool"};
  app.require_subcommand(1);

  std::string dir, file, shop;
  CLI::App* init = app.add_subcommand(
      "init",
      "Create DIR/data with the four empty tables (the settings table with its row for the IM "
      "client path) and DIR/card.mdb");
  init->add_option("DIR", dir, "The program directory");
  init->add_option("--shop", shop, "The shop NAME's folder in place of DIR")->type_name("NAME");

  CLI::App* dump = app.add_subcommand("dump", "Print the table FILE as one JSON document");
  bool json = false;
  dump->add_flag("--json", json, "Write JSON (the one format there is)")->required();
  dump->add_option("FILE", file, "A table file (.edb)")->required();

  CLI::App* check = app.add_subcommand(
      "check",
      "Open the table FILE as the program does (cutting partial records, lowering counts) and "
      "report what was found, holding the companion file's free list against the blocks in use; exit 0 "
      "when every value reads and the list is sound");
  check->add_option("FILE", file, "A table file (.edb)")->required();

  ImportOptions importOptions;
  CLI::App* import = app.add_subcommand(
      "import",
      "Restock ITEM in the program directory DIR from the card file FILE, as the window's file import "
      "does: the same line rules and decoding (UTF-8 with or without BOM, GBK, UTF-16; a .csv file holds "
      "two columns), the same check for duplicates (in the item's stock, already sent, repeated in the "
      "file) and lines that are no card. Prints the preview's counts and reasons and the outcome as JSON; "
      "the lines not imported are written to FILE's folder as \"<name>.未导入<ext>\". Works beside a "
      "running program under the same table locks");
  import->add_option("DIR", importOptions.dir, "The program directory (holding data/)")->required();
  import->add_option("ITEM", importOptions.item, "The monitored item, exactly as named (UTF-8)")->required();
  import->add_option("FILE", importOptions.file, "The card file")->required();
  import->add_flag("--allow-duplicates", importOptions.allowDuplicates,
                   "Import duplicates too (reusable codes); lines that are no card stay out");
  import->add_flag("--dry-run", importOptions.dryRun, "Print the preview only; write nothing");

  CLI::App* exportCsv = app.add_subcommand(
      "export",
      "Write the sent cards or the card stock of the program directory DIR as CSV (the same bytes as the "
      "window's export): UTF-8 with a byte-order mark, or GBK with --gbk. The file is created owner-only.");
  std::string what;
  std::optional<std::string> item;
  bool gbk = false;
  exportCsv->add_option("DIR", dir, "The program directory (holds data/)")->required();
  exportCsv->add_option("WHAT", what, "sent: the sent-cards table; stock: the card stock")
      ->required()
      ->check(CLI::IsMember({"sent", "stock"}));
  exportCsv->add_option("FILE", file, "The CSV file to write")->required();
  exportCsv->add_option("--item", item, "Only the cards of the item NAME (exact name)")->type_name("NAME");
  exportCsv->add_flag("--gbk", gbk, "Write GBK instead of UTF-8");

  std::string from;
  bool dryRun = false, merge = false;
  CLI::App* migrate = app.add_subcommand(
      "migrate",
      "Bring an earlier installation's data from FROM (a Windows program's folder with data/ and card.mdb, "
      "or "
      "the table files alone) into the program directory DIR: the four tables are found whatever their "
      "names' encoding, each is checked as check does, then converted record by record into the installed "
      "layout (ids, order and deleted marks kept; a table with a value too wide for it stays in its older "
      "layout, and the value is named); card.mdb is copied byte for byte; FROM is never changed. A DIR "
      "holding cards or sent rows is refused unless --merge");
  migrate->add_option("FROM", from, "The old folder")->required();
  migrate->add_option("DIR", dir, "The program directory to fill");
  migrate->add_option("--shop", shop, "The shop NAME's folder in place of DIR")->type_name("NAME");
  migrate->add_flag("--dry-run", dryRun, "Find, check and convert in a temporary folder; write nothing");
  migrate->add_flag("--merge", merge,
                    "Add the old items, cards and sent rows that DIR lacks; never a card or sent row twice");

  CLI::App* convert = app.add_subcommand(
      "convert",
      "Convert the tables of the program directory DIR that are still in the older layout (long texts) "
      "into the installed layout, with the same checks as migrate; the old files go into a backup folder "
      "beside data/. The program must not be running on DIR");
  convert->add_option("DIR", dir, "The program directory");
  convert->add_option("--shop", shop, "The shop NAME's folder in place of DIR")->type_name("NAME");
  convert->add_flag("--dry-run", dryRun, "Check and convert in a temporary folder; write nothing");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  // --shop NAME stands for the shop's folder; DIR and --shop exclude each other.
  if (init->parsed() || migrate->parsed() || convert->parsed()) {
    if (!shop.empty()) {
      if (!dir.empty() || !IsValidShopName(shop)) {
        std::cerr << "table_tool: give DIR or a valid --shop NAME, not both\n";
        return 2;
      }
      SetShop(shop);
      if (CurrentProgramDirSource() != ProgramDirSource::kShop) {
        std::cerr << "table_tool: no user data folder (set HOME or XDG_DATA_HOME)\n";
        return 1;
      }
      dir = ProgramDir();
      std::error_code ec;
      if (!dryRun) std::filesystem::create_directories(dir, ec);
      ::chmod(dir.c_str(), 0700);
    } else if (dir.empty()) {
      std::cerr << "table_tool: DIR or --shop NAME is needed\n";
      return 2;
    }
  }
  if (init->parsed()) return Init(dir);
  if (migrate->parsed()) return Migrate(from, dir, dryRun, merge);
  if (convert->parsed()) return Convert(dir, dryRun);
  if (dump->parsed()) return Dump(file);
  if (import->parsed()) return Import(importOptions);
  if (exportCsv->parsed()) return Export(dir, what, file, item, gbk);
  return Check(file);
}
