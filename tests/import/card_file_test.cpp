// Card files: encodings decided by content, line breaks, CSV, and the file
// that keeps the lines that were not imported.
#include "import/card_file.h"

#include <gtest/gtest.h>

#include <ostream>

#include "../store/table_files.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using Lines = std::vector<std::pair<std::string, std::optional<ImportedCard>>>;

Lines Of(const CardFile& f) {
  Lines out;
  for (const CardLine& l : f.lines) out.emplace_back(l.text, l.card);
  return out;
}

std::optional<ImportedCard> Card(const std::string& number, const std::string& password) {
  return ImportedCard{number, password};
}

struct FileCase {
  const char* name;
  std::string bytes;
  CardFileLayout layout;
  CardFileEncoding encoding;
  Lines lines;  // texts and cards, in GBK
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class ReadCardFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(ReadCardFileTest, LinesAndCards) {
  const FileCase& c = GetParam();
  const CardFile f = ReadCardFile(c.bytes, c.layout);
  EXPECT_EQ(f.encoding, c.encoding);
  EXPECT_EQ(Of(f), c.lines);
  EXPECT_EQ(f.sourceLines.size(), f.lines.size());
}

// "卡号一 密码" in the three encodings the files come in.
const std::string kUtf8Line = "卡号一 密码";
const std::string kGbkLine = "卡号一 密码"_gbk;

std::string Utf16Le(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  // The test texts are ASCII and characters of the Basic Multilingual Plane.
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char b = utf8[i];
    unsigned cp;
    if (b < 0x80) {
      cp = b;
      i += 1;
    } else if (b < 0xE0) {
      cp = (b & 0x1F) << 6 | (utf8[i + 1] & 0x3F);
      i += 2;
    } else {
      cp = (b & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
      i += 3;
    }
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadCardFileTest,
    ::testing::Values(
        FileCase{"Utf8WithLf",
                 kUtf8Line + "\nA2 P2\n",
                 CardFileLayout::kLines,
                 CardFileEncoding::kUtf8,
                 {{kGbkLine, Card("卡号一"_gbk, "密码"_gbk)}, {"A2 P2", Card("A2", "P2")}}},
        FileCase{"Utf8WithBomAndCrLf",
                 "\xEF\xBB\xBF" + kUtf8Line + "\r\nA2 P2 x",
                 CardFileLayout::kLines,
                 CardFileEncoding::kUtf8WithBom,
                 {{kGbkLine, Card("卡号一"_gbk, "密码"_gbk)}, {"A2 P2 x", Card("A2", "P2 x")}}},
        FileCase{"GbkWithCrLf",
                 kGbkLine + "\r\n\r\nA2 P2\r\n",
                 CardFileLayout::kLines,
                 CardFileEncoding::kGbk,
                 {{kGbkLine, Card("卡号一"_gbk, "密码"_gbk)}, {"A2 P2", Card("A2", "P2")}}},
        FileCase{"LoneCrBreaksLinesToo",
                 "A1 P1\rA2 P2",
                 CardFileLayout::kLines,
                 CardFileEncoding::kUtf8,
                 {{"A1 P1", Card("A1", "P1")}, {"A2 P2", Card("A2", "P2")}}},
        FileCase{"Utf16FromAWindowsEditor",
                 Utf16Le(kUtf8Line + "\r\nA2 P2\r\n"),
                 CardFileLayout::kLines,
                 CardFileEncoding::kUtf16,
                 {{kGbkLine, Card("卡号一"_gbk, "密码"_gbk)}, {"A2 P2", Card("A2", "P2")}}},
        FileCase{"LineWithoutSpaceIsKept",
                 "A1\nA2 P2\n",
                 CardFileLayout::kLines,
                 CardFileEncoding::kUtf8,
                 {{"A1", std::nullopt}, {"A2 P2", Card("A2", "P2")}}},
        // The second line is no GBK (0xFF), so the file is neither UTF-8
        // nor GBK throughout: the bad line is kept, the others imported.
        FileCase{"BadGbkLineIsKeptNotGarbled",
                 kGbkLine + "\r\nA2 \xFF\xFE\r\nA3 P3\r\n",
                 CardFileLayout::kLines,
                 CardFileEncoding::kGbk,
                 {{kGbkLine, Card("卡号一"_gbk, "密码"_gbk)},
                  {"A2 \xFF\xFE", std::nullopt},
                  {"A3 P3", Card("A3", "P3")}}},
        // U+1F600 has no GBK form (it shows as "?"): that line stays out.
        FileCase{"Utf8LineWithoutGbkFormIsKept",
                 "A1 caf\xF0\x9F\x98\x80\nA2 P2\n",
                 CardFileLayout::kLines,
                 CardFileEncoding::kUtf8,
                 {{"A1 caf?", std::nullopt}, {"A2 P2", Card("A2", "P2")}}},
        FileCase{"ZeroByteIsNoCard",
                 std::string("A1 P\0x\nA2 P2\n", 13),
                 CardFileLayout::kLines,
                 CardFileEncoding::kUtf8,
                 {{std::string("A1 P\0x", 6), std::nullopt}, {"A2 P2", Card("A2", "P2")}}},
        FileCase{"CsvTwoColumns",
                 "A1,P1\r\nA2,P 2\r\n,P3\r\n",
                 CardFileLayout::kCsv,
                 CardFileEncoding::kUtf8,
                 {{"A1,P1", Card("A1", "P1")}, {"A2,P 2", Card("A2", "P 2")}, {",P3", Card("", "P3")}}},
        FileCase{"CsvQuotedFieldsAndHeader",
                 "\xEF\xBB\xBF卡号,卡密\n\"A,1\",\"say \"\"hi\"\"\"\n" + kUtf8Line + ",\"x\"\n",
                 CardFileLayout::kCsv,
                 CardFileEncoding::kUtf8WithBom,
                 {{"\"A,1\",\"say \"\"hi\"\"\"", Card("A,1", "say \"hi\"")},
                  {kGbkLine + ",\"x\"", Card("卡号一 密码"_gbk, "x")}}},
        FileCase{"CsvGbkWithTrailingEmptyColumns",
                 "卡号一,密码,,\r\nA2,P2\r\n"_gbk,
                 CardFileLayout::kCsv,
                 CardFileEncoding::kGbk,
                 {{"卡号一,密码,,"_gbk, Card("卡号一"_gbk, "密码"_gbk)}, {"A2,P2", Card("A2", "P2")}}},
        // Spaces around an unquoted field go; quotes keep them; a comma
        // with nothing after it leaves an empty password (a reason of its
        // own at the check).
        FileCase{"CsvFieldsAreTrimmedUnlessQuoted",
                 "  DK999002 ,  PW2 \nDK999001,\n\" A3 \",\" P3\"\n",
                 CardFileLayout::kCsv,
                 CardFileEncoding::kUtf8,
                 {{"  DK999002 ,  PW2 ", Card("DK999002", "PW2")},
                  {"DK999001,", Card("DK999001", "")},
                  {"\" A3 \",\" P3\"", Card(" A3 ", " P3")}}},
        FileCase{"CsvRowsThatAreNoCards",
                 "A1\nA2,P2,x\n\"A3,P3\nA4\"x,P4\nA5,P5\n",
                 CardFileLayout::kCsv,
                 CardFileEncoding::kUtf8,
                 {{"A1", std::nullopt},
                  {"A2,P2,x", std::nullopt},
                  {"\"A3,P3", std::nullopt},
                  {"A4\"x,P4", Card("A4\"x", "P4")},
                  {"A5,P5", Card("A5", "P5")}}},
        FileCase{"EmptyFile", "", CardFileLayout::kLines, CardFileEncoding::kUtf8, {}}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST(CardFile, LayoutFollowsTheFileName) {
  EXPECT_EQ(LayoutOfFileName("cards.csv"), CardFileLayout::kCsv);
  EXPECT_EQ(LayoutOfFileName("CARDS.CSV"), CardFileLayout::kCsv);
  EXPECT_EQ(LayoutOfFileName("cards.txt"), CardFileLayout::kLines);
  EXPECT_EQ(LayoutOfFileName("csv"), CardFileLayout::kLines);
}

TEST(CardFile, CsvHeaderOnlyOnTheFirstLine) {
  const CardFile f = ReadCardFile("A1,P1\n卡号,卡密\n", CardFileLayout::kCsv);
  EXPECT_FALSE(f.skippedHeader);
  ASSERT_EQ(f.lines.size(), 2u);
  EXPECT_EQ(f.lines[1].card, Card("卡号"_gbk, "卡密"_gbk));
}

// Line numbers count every line of the file, whatever its break, so that a
// report can point the seller at a line.
TEST(CardFile, LineNumbersCountBlankLinesAndTheHeader) {
  const CardFile csv = ReadCardFile("卡号,卡密\r\n\r\nA1,P1\n \rbad\r\nA2,P2", CardFileLayout::kCsv);
  EXPECT_TRUE(csv.skippedHeader);
  EXPECT_EQ(csv.lineNumbers, (std::vector<std::size_t>{3, 5, 6}));
  EXPECT_FALSE(csv.lines[1].card);
}

// The lines not imported go into a file beside the source, as they stood
// there: same encoding, same mark, same line break.
TEST(CardFile, KeptLinesGoBackAsTheyStood) {
  const std::string utf8 = "\xEF\xBB\xBF" + kUtf8Line + "\nbad\nA3 P3\n";
  const CardFile f = ReadCardFile(utf8, CardFileLayout::kLines);
  EXPECT_EQ(KeptLinesFileBytes(f, {0, 1}), "\xEF\xBB\xBF" + kUtf8Line + "\nbad\n");

  const CardFile gbk = ReadCardFile(kGbkLine + "\r\nbad \xFF\r\nA3 P3", CardFileLayout::kLines);
  EXPECT_EQ(KeptLinesFileBytes(gbk, {1, 2}), "bad \xFF\r\nA3 P3\r\n");

  const CardFile utf16 = ReadCardFile(Utf16Le(kUtf8Line + "\r\n"), CardFileLayout::kLines);
  EXPECT_EQ(KeptLinesFileBytes(utf16, {0}), "\xEF\xBB\xBF" + kUtf8Line + "\r\n");
}

TEST(CardFile, KeptLinesFileNeverOverwrites) {
  testing::TempDir dir;
  const std::string source = dir / "cards.txt";
  testing::WriteFileBytes(source, "A1 P1\nbad\n");
  std::optional<CardFile> f = LoadCardFile(source);
  ASSERT_TRUE(f);
  ASSERT_EQ(f->lines.size(), 2u);

  std::optional<std::string> first = WriteKeptLinesFile(source, *f, {1});
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, dir / "cards.未导入.txt");
  EXPECT_EQ(testing::ReadFileBytes(*first), "bad\n");
  std::optional<std::string> second = WriteKeptLinesFile(source, *f, {0, 1});
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, dir / "cards.未导入-2.txt");
  EXPECT_EQ(testing::ReadFileBytes(*first), "bad\n");
  EXPECT_EQ(testing::ReadFileBytes(*second), "A1 P1\nbad\n");
  EXPECT_EQ(testing::ReadFileBytes(source), "A1 P1\nbad\n");

  EXPECT_FALSE(WriteKeptLinesFile(dir / "no-such-dir/cards.txt", *f, {1}));
  EXPECT_FALSE(LoadCardFile(dir / "missing.txt"));
  EXPECT_FALSE(LoadCardFile(source, 4));  // larger than allowed
}

}  // namespace
}  // namespace autodeliver
