// The CSV export: fields with commas, quotes and line breaks read back
// unchanged by Python's csv module in both encodings; the header, the byte
// order mark and the CR LF line ends; the chosen rows only; and a file that
// is written owner-only, whole or not at all.
#include "export/csv_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../store/table_files.h"
#include "support/hex.h"
#include "support/temp_dir.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

// The rows Python's csv module reads from `path` in `encoding`, each field
// as its UTF-8 bytes in hex, fields joined by spaces. With `textRule`, a
// field that begins with an apostrophe loses it, the rule by which a reader
// gets back the original of a field written as spreadsheet text.
std::vector<std::string> ReadWithPython(const std::string& path, const char* encoding, bool textRule = true) {
  const std::string script =
      "import csv,sys\n"
      "def text(v): return v[1:] if sys.argv[3] == '1' and v.startswith(chr(39)) else v\n"
      "with open(sys.argv[1], newline='', encoding=sys.argv[2]) as f:\n"
      "    for row in csv.reader(f):\n"
      "        print(' '.join(text(v).encode('utf-8').hex() for v in row))\n";
  const std::string command =
      "python3 -c \"" + script + "\" '" + path + "' " + encoding + (textRule ? " 1" : " 0");
  std::vector<std::string> rows;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return rows;
  char line[65536];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::string row(line);
    if (!row.empty() && row.back() == '\n') row.pop_back();
    rows.push_back(row);
  }
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "python3 failed on " << path;
  return rows;
}

// A row as ReadWithPython prints it, from UTF-8 fields.
std::string Expected(const std::vector<std::string>& utf8Fields) {
  std::string row;
  for (std::size_t i = 0; i < utf8Fields.size(); ++i) row += (i ? " " : "") + testing::Hex(utf8Fields[i]);
  return row;
}

class CsvExportTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
  testing::TempDir dir_;
};

TEST_F(CsvExportTest, AwkwardValuesReadBackUnchangedInBothEncodings) {
  // UTF-8 values as the seller would read them.
  const std::vector<std::vector<std::string>> values = {
      {"点卡,10元", "1001", "买家\"甲\"", "2", "DK,1", "pw\r\nline2", "", "2024年5月1日9时"},
      {"plain", "1002", " spaced ", "1", "\"quoted\"", "a\nb", "remark,\"x\"", "2024年5月2日"},
      {"", "1003", "买家乙", "0", "\r", "0", "\"", "x"},
  };
  std::vector<SentCard> cards;
  for (const auto& v : values) {
    cards.push_back({Utf8ToGbkLossy(v[0]), v[1], Utf8ToGbkLossy(v[2]), std::stoi(v[3]), v[4], v[5],
                     Utf8ToGbkLossy(v[6]), Utf8ToGbkLossy(v[7])});
  }
  const std::vector<std::string> header = {"宝贝名称", "订单编号", "买家旺旺", "购买数量",
                                           "已发卡号", "已发卡密", "已发备注", "发货时间"};
  std::vector<std::string> expected = {Expected(header)};
  for (const auto& v : values) expected.push_back(Expected(v));

  const std::string utf8 = SentCardsCsv(cards, nullptr, CsvEncoding::kUtf8WithBom);
  ASSERT_TRUE(WriteExportFile(Path("sent.csv"), utf8));
  EXPECT_EQ(testing::ReadFileBytes(Path("sent.csv")), utf8);
  EXPECT_EQ(utf8.rfind("\xEF\xBB\xBF宝贝名称,订单编号,", 0), 0u);
  EXPECT_EQ(ReadWithPython(Path("sent.csv"), "utf-8-sig"), expected);

  const std::string gbk = SentCardsCsv(cards, nullptr, CsvEncoding::kGbk);
  EXPECT_EQ(gbk.rfind("宝贝名称,"_gbk, 0), 0u);  // no mark
  ASSERT_TRUE(WriteExportFile(Path("sent-gbk.csv"), gbk));
  EXPECT_EQ(ReadWithPython(Path("sent-gbk.csv"), "gbk"), expected);

  // The rows chosen, in the order given; every line ends with CR LF.
  const std::vector<int> rows = {2, 0};
  const std::string chosen = SentCardsCsv(cards, &rows, CsvEncoding::kUtf8WithBom);
  ASSERT_TRUE(WriteExportFile(Path("chosen.csv"), chosen));
  EXPECT_EQ(ReadWithPython(Path("chosen.csv"), "utf-8-sig"),
            (std::vector<std::string>{expected[0], expected[3], expected[1]}));
  EXPECT_EQ(chosen.substr(chosen.size() - 2), "\r\n");

  // The stock of an item.
  const std::vector<StockCard> stock = {{"点卡"_gbk, "N,1", "P\"1", 1}, {"点卡"_gbk, "N2", "0", 2}};
  ASSERT_TRUE(WriteExportFile(Path("stock.csv"), StockCardsCsv(stock, CsvEncoding::kUtf8WithBom)));
  EXPECT_EQ(ReadWithPython(Path("stock.csv"), "utf-8-sig"),
            (std::vector<std::string>{Expected({"宝贝名称", "宝贝卡号", "宝贝卡密"}),
                                      Expected({"点卡", "N,1", "P\"1"}), Expected({"点卡", "N2", "0"})}));
}

TEST_F(CsvExportTest, FormulaStartsAreWrittenAsTextAndReadBackByTheApostropheRule) {
  // Each start a spreadsheet takes as a formula, a leading apostrophe (which
  // the rule must give back too), and starts that stay as they are.
  const std::vector<std::pair<std::string, bool>> values = {
      {"=HYPERLINK(\"http://x\",\"点我\")", true},
      {"+1+1", true},
      {"-2+3", true},
      {"@SUM(A1)", true},
      {"\t=1", true},
      {"\r=1", true},
      {"'=1", true},
      {"'", true},
      {"a=1", false},
      {" =1", false},
      {"卡-1", false},
  };
  std::vector<SentCard> sent;
  std::vector<StockCard> stock;
  for (const auto& [value, guarded] : values) {
    sent.push_back({"点卡"_gbk, "1", "b", 1, Utf8ToGbkLossy(value), Utf8ToGbkLossy(value), "", "t"});
    stock.push_back({"点卡"_gbk, Utf8ToGbkLossy(value), "0", 1});
  }
  for (CsvEncoding encoding : {CsvEncoding::kUtf8WithBom, CsvEncoding::kGbk}) {
    const char* name = encoding == CsvEncoding::kGbk ? "gbk" : "utf-8-sig";
    ASSERT_TRUE(WriteExportFile(Path("sent.csv"), SentCardsCsv(sent, nullptr, encoding)));
    ASSERT_TRUE(WriteExportFile(Path("stock.csv"), StockCardsCsv(stock, encoding)));
    const std::vector<std::string> raw = ReadWithPython(Path("sent.csv"), name, false);
    const std::vector<std::string> read = ReadWithPython(Path("sent.csv"), name);
    const std::vector<std::string> stockRead = ReadWithPython(Path("stock.csv"), name);
    ASSERT_EQ(raw.size(), values.size() + 1);
    ASSERT_EQ(stockRead.size(), values.size() + 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
      const auto& [value, guarded] = values[i];
      const std::string cell = (guarded ? "'" : "") + value;
      EXPECT_EQ(raw[i + 1], Expected({"点卡", "1", "b", "1", cell, cell, "", "t"})) << name << " " << value;
      EXPECT_EQ(read[i + 1], Expected({"点卡", "1", "b", "1", value, value, "", "t"}))
          << name << " " << value;
      EXPECT_EQ(stockRead[i + 1], Expected({"点卡", value, "0"})) << name << " " << value;
    }
  }
}

TEST_F(CsvExportTest, FieldQuoting) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"", ""},           {"abc", "abc"},       {"a,b", "\"a,b\""},   {"a\"b", "\"a\"\"b\""},
               {"\"", "\"\"\"\""}, {"a\rb", "\"a\rb\""}, {"a\nb", "\"a\nb\""}, {" a ", " a "},
               {"卡密", "卡密"}};
  for (const Case& c : cases) EXPECT_EQ(CsvField(c.in), c.out) << c.in;
}

TEST_F(CsvExportTest, FileIsOwnerOnlyAndReplacedOnlyWhenWrittenWhole) {
  const std::string path = Path("out.csv");
  ASSERT_TRUE(WriteExportFile(path, "first"));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(WriteExportFile(path, "second"));
  EXPECT_EQ(testing::ReadFileBytes(path), "second");
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));

  // A folder that does not exist, or a folder in the file's place: false,
  // and nothing left behind.
  EXPECT_FALSE(WriteExportFile(Path("missing/out.csv"), "x"));
  std::filesystem::create_directory(Path("taken"));
  EXPECT_FALSE(WriteExportFile(Path("taken"), "x"));
  EXPECT_TRUE(std::filesystem::is_directory(Path("taken")));
  EXPECT_FALSE(std::filesystem::exists(Path("taken.part")));
  EXPECT_FALSE(WriteExportFile("", "x"));
}

}  // namespace
}  // namespace autodeliver
