// table_tool: sets up and inspects a shop's record tables.
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
//   table_tool export DIR sent|stock FILE [--item NAME] [--gbk]
//                               writes the sent cards or the stock of DIR's
//                               data folder as CSV, the same bytes as the
//                               window's export (UTF-8 with a byte-order mark,
//                               or GBK); --item keeps one item's cards
//   table_tool --help           (and after each command) what it takes
//
// Texts are shown converted from GBK to UTF-8. Exit status 2 for a usage
// error, 1 when the work failed.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "common/json_text.h"
#include "store/csv_export.h"
#include "store/data_paths.h"
#include "store/jet4/jet4_file.h"
#include "store/record_table.h"
#include "store/records.h"
#include "store/store_ops.h"
#include "store/table_format.h"
#include "store/table_schema.h"
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
  SetProgramDir(dir);
  const CsvEncoding encoding = gbk ? CsvEncoding::kGbk : CsvEncoding::kUtf8WithBom;
  std::string bytes;
  std::size_t rows = 0;
  if (what == "sent") {
    std::vector<SentCard> cards;
    if (!LoadSentCards(&cards)) {
      std::cerr << "table_tool: cannot read " << SentTablePath() << "\n";
      return 1;
    }
    if (item) std::erase_if(cards, [&](const SentCard& c) { return c.itemName != *item; });
    bytes = SentCardsCsv(cards, nullptr, encoding);
    rows = cards.size();
  } else {
    std::vector<StockCard> cards;
    if (!LoadAllStockCards(&cards)) {
      std::cerr << "table_tool: cannot read " << StockTablePath() << "\n";
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

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  using namespace autodeliver;
  CLI::App app{
      "Sets up and inspects a shop's record tables. Texts are shown converted from GBK to UTF-8.\n"
      "Exit status: 0 done, 1 the work failed, 2 a usage error.",
      "table_tool"};
  app.require_subcommand(1);

  std::string dir, file;
  CLI::App* init = app.add_subcommand(
      "init",
      "Create DIR/data with the four empty tables (the settings table with its row for the IM "
      "client path) and DIR/card.mdb");
  init->add_option("DIR", dir, "The program directory")->required();

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

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (init->parsed()) return Init(dir);
  if (dump->parsed()) return Dump(file);
  if (exportCsv->parsed()) return Export(dir, what, file, item, gbk);
  return Check(file);
}
